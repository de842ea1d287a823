# Shared parts of the end-to-end scripts: a scratch folder, processes started
# and stopped by PID, the ok/FAIL lines and their summary, the X server, the
# tray host and screenshots. Source it, then call e2e_init SHOTS-DIR.
# A script that cannot run here exits 77 (skipped), never 0.

# require_tools TOOL...: skips the script when one of them is not installed.
require_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is not installed"
            exit 77
        fi
    done
}

# in_private_mounts SCRIPT APP SHOTS MOUNT-POINT...: the first time, makes the
# mount points, runs the script again in a private mount namespace (so no
# mount is seen outside it), removes the mount points and exits with its
# status; inside the namespace it returns. Needs root.
in_private_mounts() {
    local script=$1 app=$2 shots=$3 rc made_media=""
    shift 3
    [ -n "${FI_E2E_PRIVATE_MOUNTS:-}" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: mounting a card needs root"
        exit 77
    fi
    require_tools unshare mount
    if ! unshare -m --propagation private true 2>/dev/null; then
        echo "skipped: no private mount namespace (unshare -m failed)"
        exit 77
    fi
    [ -d /media ] || made_media=1
    mkdir -p "$@"
    FI_E2E_PRIVATE_MOUNTS=1 unshare -m --propagation private bash "$script" "$app" "$shots"
    rc=$?
    rmdir "$@" 2>/dev/null
    [ -n "$made_media" ] && rmdir /media 2>/dev/null
    exit $rc
}

CONVERT=/usr/bin/convert # ImageMagick itself; a stand-in may come first in PATH
command -v xwd >/dev/null && [ -x "$CONVERT" ] || CONVERT=""

# e2e_init SHOTS-DIR: WORK (scratch, removed at exit) with home/ and runtime/
e2e_init() {
    SHOTS=$1
    WORK=$(mktemp -d /tmp/fotoimport-e2e.XXXXXX)
    mkdir -p "$SHOTS" "$WORK/home" "$WORK/runtime"
    rm -f "$SHOTS"/*.png # only this run's pictures
    chmod 700 "$WORK/runtime"
    PIDS=()
    MOUNTS=() # unmounted at the end, newest first
    HOLDS=()  # hold files of FUSE servers, removed first so that held requests end
    PASS=0
    FAIL=0
    trap e2e_cleanup EXIT
}
# Stops what the script started, newest first; a script may define
# e2e_extra_cleanup for anything else.
e2e_cleanup() {
    local i
    rm -f "${HOLDS[@]}"
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null
        wait "${PIDS[i]}" 2>/dev/null
    done
    if declare -F e2e_extra_cleanup >/dev/null; then e2e_extra_cleanup; fi
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        mountpoint -q "${MOUNTS[i]}" && umount -l "${MOUNTS[i]}"
    done
    [ -n "${E2E_KEEP:-}" ] || rm -rf "$WORK"
}
forget_pid() { # after reaping it ourselves: the number may be reused
    local p keep=()
    for p in "${PIDS[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
    PIDS=("${keep[@]}")
}

ok() { PASS=$((PASS + 1)); echo "ok   - $*"; }
bad() { FAIL=$((FAIL + 1)); echo "FAIL - $*"; }
now_ms() { date +%s%3N; }
finish() {
    echo "# screenshots in $SHOTS"
    echo "$PASS passed, $FAIL failed"
    [ "$FAIL" -eq 0 ] && exit 0
    echo "# program output:"
    cat "$WORK"/app*.err 2>/dev/null | head -n 40
    exit 1
}

# start_xvfb: an X server on a free display; the program's environment points
# at it, at the scratch home and runtime folders, and at no session bus (so Qt
# uses the XEmbed tray host).
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 3>"$WORK/display" &
    PIDS+=($!)
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
    if [ ! -s "$WORK/display" ]; then
        bad "Xvfb did not start"
        finish
    fi
    export DISPLAY=":$(head -n1 "$WORK/display")"
    unset DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME
    export QT_QPA_PLATFORM=xcb HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime"
}
# start_trayer: the XEmbed tray host at the top right; TRAYER_PID
start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 \
        --transparent false --tint 0x808080 --SetDockType true >>"$WORK/trayer.log" 2>&1 &
    TRAYER_PID=$!
    PIDS+=($TRAYER_PID)
    timeout 10 xdotool search --sync --name '^panel$' >/dev/null || bad "trayer panel did not appear"
    sleep 0.5 # let trayer take the tray selection
}
# shot NAME [WINDOW]: the screen, and the window cut out of it
shot() {
    [ -n "$CONVERT" ] || return 0
    xwd -root -silent | "$CONVERT" xwd:- "$SHOTS/$1.png"
    if [ -n "${2:-}" ]; then
        local WIDTH HEIGHT
        client_origin "$2"
        WIDTH=$(xwininfo -id "$2" | awk '/^ *Width:/{print $2}')
        HEIGHT=$(xwininfo -id "$2" | awk '/^ *Height:/{print $2}')
        "$CONVERT" "$SHOTS/$1.png" -crop "${WIDTH}x${HEIGHT}+${CLIENT_X}+${CLIENT_Y}" +repage "$SHOTS/$1_window.png"
    fi
}

# start_openbox: a window manager that draws frames with a close button and
# binds Alt+F4 to close, as desktops do
start_openbox() {
    openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
    PIDS+=($!)
    local _
    for _ in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    bad "openbox did not start"
}
# start_session_bus: a private D-Bus session bus for the program (no tray on it)
start_session_bus() {
    dbus-daemon --session --nofork --print-address=3 3>"$WORK/bus" >"$WORK/bus.log" 2>&1 &
    PIDS+=($!)
    local _
    for _ in $(seq 100); do [ -s "$WORK/bus" ] && break; sleep 0.1; done
    [ -s "$WORK/bus" ] || { bad "no session bus"; finish; }
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$WORK/bus")
    export DBUS_SESSION_BUS_ADDRESS
}

# xwininfo with an empty window id waits for a click on a window, which never
# comes here: an id that came back empty (a window that went away while
# xdotool searched) makes it fail instead.
xwininfo() {
    local arg prev=""
    for arg; do
        [ "$prev" = -id ] && [ -z "$arg" ] && return 1
        prev=$arg
    done
    command xwininfo "$@"
}
# wait_until MS COMMAND...: polls the command until it succeeds, at most MS milliseconds
wait_until() {
    local deadline=$(($(now_ms) + $1))
    shift
    until "$@"; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.05
    done
}
# stays MS COMMAND...: the command keeps succeeding for MS milliseconds
stays() {
    local deadline=$(($(now_ms) + $1))
    shift
    while (($(now_ms) < deadline)); do
        "$@" || return 1
        sleep 0.05
    done
}
# app_window TITLE: the program's top-level window with this title, mapped or not
app_window() { xdotool search --pid "$APP_PID" --name "^$1\$" 2>/dev/null | head -n1; }
# visible_window TITLE: the window with this title as a person sees it (mapped)
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }
is_visible() { [ -n "$(visible_window "$1")" ]; }
is_hidden() { [ -z "$(visible_window "$1")" ]; }
# wait_window TITLE MS: prints the visible window with this title (a regular
# expression) once it shows, within MS milliseconds
wait_window() {
    local t0 w
    t0=$(now_ms)
    while (($(now_ms) - t0 < $2)); do
        w=$(visible_window "$1")
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.05
    done
    return 1
}
# wm_state WINDOW: Normal, Iconic (minimised) or Withdrawn/empty (hidden)
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/{print $3}'; }
is_iconic() { [ "$(wm_state "$1")" = Iconic ]; }
# net_wm_name WINDOW: the title the window manager shows in the title bar
net_wm_name() { xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
alive() { kill -0 "$APP_PID" 2>/dev/null; }

# find_icon: the program's visible window whose parent is not the root is its
# icon inside trayer; sets ICON_X, ICON_Y (its centre)
find_icon() {
    local w root parent geometry t0
    t0=$(now_ms)
    root=$(xwininfo -root | awk '/Window id:/{print $4}')
    while (($(now_ms) - t0 < 10000)); do
        for w in $(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null); do
            # a window gone meanwhile (a menu that closed) has neither parent nor geometry
            parent=$(xwininfo -children -id "$w" 2>/dev/null | awk '/Parent window id:/{print $4}')
            [ -n "$parent" ] && [ "$parent" != "$root" ] || continue
            geometry=$(xdotool getwindowgeometry --shell "$w" 2>/dev/null) && [ -n "$geometry" ] || continue
            eval "$geometry"
            # the main window inside a window manager's frame is no icon
            ((WIDTH < 100 && HEIGHT < 100)) || continue
            ICON_X=$((X + WIDTH / 2))
            ICON_Y=$((Y + HEIGHT / 2))
            echo "# icon window $w at ${X},${Y} ${WIDTH}x${HEIGHT}"
            return 0
        done
        sleep 0.1
    done
    return 1
}
move_to() { # "mousemove --sync" to where the pointer already is would hang
    eval "$(xdotool getmouselocation --shell)"
    [ "$X,$Y" = "$1,$2" ] || xdotool mousemove --sync "$1" "$2"
}
click_icon() { # click_icon BUTTON [REPEAT DELAY_MS]
    move_to "$ICON_X" "$ICON_Y"
    sleep 0.2
    xdotool click --repeat "${2:-1}" --delay "${3:-100}" "$1"
}
# The main window's titles at the end of a run: the card's verdict, or
# "Übertragung beendet" when the card could not be looked at (a regular
# expression, as the window functions take them).
FINISHED='(Karte kann formatiert werden|[0-9]+ Dateien bleiben auf der Karte|Übertragung beendet)'
# open_menu NAME TITLE: opens the tray menu with the right button and takes a
# screenshot NAME of it; the open menu is the program's one top-level window
# beside its main window, which has TITLE (a regular expression)
open_menu() {
    local menu="" t0
    click_icon 3
    t0=$(now_ms)
    while (($(now_ms) - t0 < 5000)); do
        menu=$(xdotool search --onlyvisible --maxdepth 1 --pid "$APP_PID" 2>/dev/null |
            while read -r w; do [[ "$(xdotool getwindowname "$w")" =~ ^$2$ ]] || echo "$w"; done | head -n1)
        [ -n "$menu" ] && break
        sleep 0.05
    done
    [ -n "$menu" ] || return 1
    sleep 0.4
    shot "$1"
}
# menu_item N TITLE: opens the tray menu as open_menu does and chooses item N
# (1, 2, or 3 for the last) by keys
menu_item() {
    local keys=()
    open_menu "menu_$1" "$2" || return 1
    case $1 in
    1) keys=(Down Return) ;;
    2) keys=(Down Down Return) ;;
    3) keys=(Up Return) ;;
    esac
    xdotool key "${keys[@]}"
}
# client_origin WINDOW: CLIENT_X, CLIENT_Y, the screen position of the window's
# client area (xdotool's geometry is off inside a window manager's frame)
client_origin() {
    local info
    info=$(xwininfo -id "$1")
    CLIENT_X=$(awk '/Absolute upper-left X:/{print $4}' <<<"$info")
    CLIENT_Y=$(awk '/Absolute upper-left Y:/{print $4}' <<<"$info")
}
# click_in WINDOW X Y: a left click at a point of the window's client area
click_in() {
    [ -n "$1" ] || return 1
    client_origin "$1"
    move_to $((CLIENT_X + $2)) $((CLIENT_Y + $3))
    sleep 0.2
    xdotool click 1
}
# click_close_button WINDOW: the close button at the right end of the title
# bar that the window manager draws around the window
click_close_button() {
    local frame
    [ -n "$1" ] || return 1
    frame=$(xwininfo -children -id "$1" | awk '/Parent window id:/{print $4}')
    client_origin "$frame"
    WIDTH=$(xwininfo -id "$frame" | awk '/^ *Width:/{print $2}')
    move_to $((CLIENT_X + WIDTH - 11)) $((CLIENT_Y + 10))
    sleep 0.2
    xdotool click 1
}
# make_photo FOLDER NAME DATE [ORIENTATION]: a 320x240 JPEG with its EXIF date
make_photo() {
    local ppm="$WORK/photo.ppm"
    if [ ! -s "$ppm" ]; then
        {
            printf 'P6\n320 240\n255\n'
            LC_ALL=C awk 'BEGIN { for (y = 0; y < 240; y++) for (x = 0; x < 320; x++)
                                      printf "%c%c%c", x % 256, y, (x + y) % 256 }'
        } >"$ppm"
    fi
    mkdir -p "$1"
    cjpeg -quality 90 "$ppm" >"$1/$2"
    exiftool -q -overwrite_original -DateTimeOriginal="$3" ${4:+-Orientation#=$4} "$1/$2"
}

# --- the program, its cards and its end, for the scripts that inject faults

FAULTFS="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../support" && pwd)/faultfs.py"
XWIN="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/xwin.py"
# require_fuse: skips the script without /dev/fuse or Debian's python3-fusepy
require_fuse() {
    if [ ! -c /dev/fuse ] || ! /usr/bin/python3 -c 'import fusepy' 2>/dev/null; then
        echo "skipped: no FUSE (/dev/fuse and Debian's python3-fusepy are needed)"
        exit 77
    fi
}
# mount_tmpfs MOUNTPOINT: a 256 MiB tmpfs, unmounted at the end
mount_tmpfs() {
    mount -t tmpfs -o size=256m fotoimport-e2e "$1" || { bad "cannot mount a tmpfs at $1"; finish; }
    MOUNTS+=("$1")
}
# start_faultfs FOLDER MOUNTPOINT [OPTION...]: FOLDER served at MOUNTPOINT by
# tests/support/faultfs.py with these options, once it is mounted; the server
# ends and the mount goes at the end. FAULTFS_PID
start_faultfs() {
    local ready="$WORK/faultfs.${#MOUNTS[@]}.ready"
    mkdir -p "$1"
    /usr/bin/python3 "$FAULTFS" "$1" "$2" --ready "$ready" "${@:3}" >>"$WORK/faultfs.log" 2>&1 &
    FAULTFS_PID=$!
    PIDS+=($FAULTFS_PID)
    MOUNTS+=("$2")
    wait_until 10000 test -e "$ready" || { bad "faultfs did not mount $2: $(cat "$WORK/faultfs.log")"; finish; }
}
# make_card FOLDER FIRST COUNT WIDTH HEIGHT DAY [ORIENTATION]: COUNT photos
# IMG_FIRST.JPG, ... of one striped picture of WIDTH x HEIGHT (JPEG quality
# 95), taken a second apart from 10:00 on DAY (YYYY:MM:DD), so that no two
# are alike
make_card() {
    local i name args=()
    mkdir -p "$1"
    /usr/bin/python3 - "$4" "$5" "$WORK/picture.ppm" <<'PY'
import sys
w, h = int(sys.argv[1]), int(sys.argv[2])
row = bytes((x * 7 + (x // 40) * 13) % 256 for x in range(w * 3))
with open(sys.argv[3], "wb") as out:
    out.write(b"P6\n%d %d\n255\n" % (w, h))
    for y in range(h):
        out.write(row[y % 251:] + row[:y % 251])
PY
    cjpeg -quality 95 "$WORK/picture.ppm" >"$WORK/picture.jpg"
    for ((i = $2; i < $2 + $3; i++)); do
        name="$1/IMG_$(printf %04d "$i").JPG"
        cp "$WORK/picture.jpg" "$name"
        ((i == $2)) || args+=(-execute)
        args+=("-DateTimeOriginal=$6 10:$(printf %02d:%02d $(((i - $2) / 60)) $(((i - $2) % 60)))" "$name")
    done
    # One exiftool for all: it takes a while to start.
    exiftool "${args[@]}" -common_args -q -overwrite_original ${7:+-Orientation#=$7}
}

# start_app [TAG]: the program, its output in $WORK/appTAG.out and .err; APP_PID
start_app() {
    "$APP" >"$WORK/app${1:-}.out" 2>"$WORK/app${1:-}.err" &
    APP_PID=$!
    PIDS+=($APP_PID)
}
# card_window MS: the window the program opens by itself for a card ("Hole
# Fotos"), visible within MS milliseconds; WIN
card_window() { wait_until "$1" is_visible "Hole Fotos" && WIN=$(visible_window "Hole Fotos"); }
# copy_photos: a click on "Fotos kopieren" (Button2 at 112,96, 100x25)
copy_photos() {
    sleep 0.3
    click_in "$WIN" 162 108
}
# run_ended MS: the window's title tells the end of the run within MS
# milliseconds; WIN and TITLE
run_ended() {
    wait_until "$1" is_visible "$FINISHED" || return 1
    WIN=$(visible_window "$FINISHED")
    TITLE=$(xdotool getwindowname "$WIN")
}
# main_ended PID: the program's own thread has ended and left no window behind
# (a thread inside a request that a FUSE server took and never answers keeps
# the process entry: the kernel waits for that answer)
main_ended() {
    local state
    state=$(awk '/^State:/{print $2}' /proc/"$1"/status 2>/dev/null)
    [ -z "$state" ] || [ "$state" = Z ] || return 1
    [ -z "$(xdotool search --onlyvisible --pid "$1" 2>/dev/null)" ]
}
# app_gone MS: the program has ended within MS milliseconds and is reaped; RC
app_gone() {
    wait_until "$1" eval '! alive' || return 1
    wait "$APP_PID"
    RC=$?
    forget_pid "$APP_PID"
}
# import_log: the import log of the scratch home
import_log() { cat "$HOME/.local/state/fotoimport/import.log" 2>/dev/null; }
# temporaries FOLDER...: the program's temporary files left in these folders
temporaries() { find "$@" -name '.fotoimport-*' 2>/dev/null; }
# photo_states DAY-FOLDER CARD-FOLDER: each JPEG of the day folder, "NAME STATE": "card" with the bytes of
# the card's photo of that name; "turned" when it is that photo taken turned and turned upright into the
# same size (orientation 1, the photo's size, a JPEG that decodes without a warning, dark bands at the sides
# of the picture); "other" when the card has no photo of that name; else "torn". Decoded at an eighth of
# their size: every coefficient is still read, so a cut or broken photo is still told.
photo_states() {
    local sizes
    sizes=$(exiftool -q -q -T -n -ext jpg -FileName -ImageSize "$2" 2>/dev/null)
    exiftool -q -q -T -n -ext jpg -FileName -Orientation -ImageSize "$1" 2>/dev/null | sort |
        /usr/bin/python3 -c '
import filecmp, re, subprocess, sys
day, card, sizes = sys.argv[1], sys.argv[2], dict(l.split("\t") for l in sys.argv[3].splitlines())
def upright_on_black(path):
    out = subprocess.run(["djpeg", "-scale", "1/8", "-pnm", path], capture_output=True)
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+\d+\s", out.stdout)
    if out.stderr or not m:
        return False
    w, h, px = int(m.group(1)), int(m.group(2)), out.stdout[m.end():]
    def mean(x0, x1, y0, y1):
        values = [px[(y * w + x) * 3 + c] for y in range(y0, y1) for x in range(x0, x1) for c in range(3)]
        return sum(values) / len(values)
    return mean(0, w // 20, h // 4, h * 3 // 4) < 12 and mean(w * 2 // 5, w * 3 // 5, h // 4, h * 3 // 4) > 40
for line in sys.stdin:
    name, orientation, size = line.rstrip("\n").split("\t")
    if name not in sizes:
        state = "other"
    elif filecmp.cmp(day + "/" + name, card + "/" + name, shallow=False):
        state = "card"
    elif orientation == "1" and size == sizes[name] and upright_on_black(day + "/" + name):
        state = "turned"
    else:
        state = "torn"
    print(name, state)' "$1" "$2" "$sizes"
}
# last_run_log: the import log from the start of its last run on
last_run_log() { import_log | awk '/ run started: /{ run = "" } { run = run $0 "\n" } END { printf "%s", run }'; }
