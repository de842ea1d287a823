#!/usr/bin/env bash
# The program at home on a Linux desktop: a second start shows the running
# program's window and ends itself; with a StatusNotifierWatcher on the session
# bus the icon goes to the D-Bus tray, whose activation shows the window.
#
# Usage: desktop.sh FOTOIMPORT [SCRATCH-DIR]
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
APP=${1:?usage: desktop.sh FOTOIMPORT [SCRATCH-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
TITLE="Warte auf Kamera"
PYTHON=/usr/bin/python3

. "$HERE/lib/common.bash"
require_tools Xvfb trayer xdotool dbus-daemon dbus-send
if ! "$PYTHON" -c 'import dbus, gi' 2>/dev/null; then
    echo "skipped: python3-dbus or python3-gi is not installed"
    exit 77
fi

e2e_init "$SHOTS"

# wait_until SECONDS COMMAND...: polls the command until it succeeds
wait_until() {
    local deadline=$(($(date +%s%3N) + $1 * 1000))
    shift
    until "$@"; do
        (($(date +%s%3N) < deadline)) || return 1
        sleep 0.1
    done
}
window_visible() { [ -n "$(xdotool search --onlyvisible --name "^${TITLE}\$" 2>/dev/null)" ]; }
has_window() { [ -n "$(xdotool search --pid "$1" 2>/dev/null)" ]; }
stop_app() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

start_xvfb
start_trayer

# --- one instance per session
"$APP" >"$WORK/app1.out" 2>"$WORK/app1.err" &
FIRST=$!
PIDS+=($FIRST)
wait_until 10 has_window "$FIRST" || bad "the first instance made no window"
if window_visible; then bad "window visible before the second start"; fi
timeout 10 "$APP" >"$WORK/app2.out" 2>"$WORK/app2.err"
rc=$?
if [ "$rc" -eq 0 ]; then ok "a second start ends itself (exit code 0)"; else bad "second start: exit code $rc"; fi
if wait_until 5 window_visible; then ok "the running instance shows its window"; else bad "window not shown"; fi
if kill -0 "$FIRST" 2>/dev/null; then ok "the first instance keeps running"; else bad "the first instance ended"; fi
stop_app "$FIRST"

# --- the D-Bus tray of current desktops (StatusNotifierItem)
dbus-daemon --session --nofork --print-address=3 3>"$WORK/bus" >"$WORK/bus.log" 2>&1 &
PIDS+=($!)
wait_until 10 test -s "$WORK/bus" || { bad "no session bus"; finish; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$WORK/bus")
"$PYTHON" "$HERE/sni_watcher.py" 120 >"$WORK/watcher.out" 2>"$WORK/watcher.err" &
PIDS+=($!)
wait_until 10 grep -q "watcher ready" "$WORK/watcher.out" || { bad "watcher did not start"; finish; }

"$APP" >"$WORK/app3.out" 2>"$WORK/app3.err" &
THIRD=$!
PIDS+=($THIRD)
if wait_until 10 grep -q "^registered " "$WORK/watcher.out"; then
    ok "the icon registers with the StatusNotifierWatcher"
else
    bad "no StatusNotifierItem registered"
    finish
fi
read -r _ service path < <(grep "^registered " "$WORK/watcher.out" | head -n1)
tooltip=$(dbus-send --session --print-reply --dest="$service" "$path" org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierItem string:ToolTip 2>&1)
if grep -q "Warte auf Camera" <<<"$tooltip"; then ok "its tooltip reads \"Warte auf Camera\""; else
    bad "tooltip: $tooltip"
fi
if window_visible; then bad "window visible at start on the D-Bus tray"; fi
sleep 1
dbus-send --session --print-reply --dest="$service" "$path" org.kde.StatusNotifierItem.Activate int32:900 int32:10 >/dev/null || bad "Activate failed"
if wait_until 5 window_visible; then ok "activating the item shows the window"; else bad "activation did not show the window"; fi
shot dbus_tray
stop_app "$THIRD"
finish
