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
    PASS=0
    FAIL=0
    trap e2e_cleanup EXIT
}
# Stops what the script started, newest first; a script may define
# e2e_extra_cleanup for anything else.
e2e_cleanup() {
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null
        wait "${PIDS[i]}" 2>/dev/null
    done
    if declare -F e2e_extra_cleanup >/dev/null; then e2e_extra_cleanup; fi
    rm -rf "$WORK"
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
# wm_state WINDOW: Normal, Iconic (minimised) or Withdrawn/empty (hidden)
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/{print $3}'; }
is_iconic() { [ "$(wm_state "$1")" = Iconic ]; }
# net_wm_name WINDOW: the title the window manager shows in the title bar
net_wm_name() { xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
alive() { kill -0 "$APP_PID" 2>/dev/null; }

# find_icon: the program's visible window whose parent is not the root is its
# icon inside trayer; sets ICON_X, ICON_Y (its centre)
find_icon() {
    local w root parent t0
    t0=$(now_ms)
    root=$(xwininfo -root | awk '/Window id:/{print $4}')
    while (($(now_ms) - t0 < 10000)); do
        for w in $(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null); do
            parent=$(xwininfo -children -id "$w" | awk '/Parent window id:/{print $4}')
            [ "$parent" != "$root" ] || continue
            eval "$(xdotool getwindowgeometry --shell "$w")"
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
# menu_item N TITLE: opens the tray menu with the right button and chooses
# item N (1..3) by keys; TITLE (a regular expression) tells the main window
# apart from the menu
menu_item() {
    local menu="" t0 keys=()
    click_icon 3
    t0=$(now_ms)
    while (($(now_ms) - t0 < 5000)); do
        menu=$(xdotool search --onlyvisible --maxdepth 1 --pid "$APP_PID" 2>/dev/null |
            while read -r w; do [[ "$(xdotool getwindowname "$w")" =~ ^$2$ ]] || echo "$w"; done | head -n1)
        [ -n "$menu" ] && break
        sleep 0.05
    done
    [ -n "$menu" ] || return 1
    sleep 0.3
    shot "menu_$1"
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
    [ -n "$1" ] || return 1 # xwininfo without a window would wait for a click
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
