# Shared parts of the end-to-end scripts: a scratch folder, processes started
# and stopped by PID, the ok/FAIL lines and their summary, the X server, the
# tray host and screenshots. Source it, then call e2e_init SHOTS-DIR.

CONVERT=/usr/bin/convert # ImageMagick itself; a stand-in may come first in PATH
command -v xwd >/dev/null && [ -x "$CONVERT" ] || CONVERT=""

# e2e_init SHOTS-DIR: WORK (scratch, removed at exit) with home/ and runtime/
e2e_init() {
    SHOTS=$1
    WORK=$(mktemp -d /tmp/fotoimport-e2e.XXXXXX)
    mkdir -p "$SHOTS" "$WORK/home" "$WORK/runtime"
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
        eval "$(xdotool getwindowgeometry --shell "$2")"
        "$CONVERT" "$SHOTS/$1.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$SHOTS/$1_window.png"
    fi
}
