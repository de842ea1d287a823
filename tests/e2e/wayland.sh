#!/usr/bin/env bash
# The program on Wayland without a tray, under GNOME's own compositor (mutter)
# run headless: keys typed through mutter's remote-desktop input, a stand-in
# launcher that gets activation tokens from mutter (wayland_launcher), and the
# program's own protocol log (WAYLAND_DEBUG=1), whose xdg_toplevel.configure
# events tell whether mutter activated the window. Checks that the window shows
# at start, that closing it minimises it and the program runs on, that a second
# start with the launcher's token activates that window, that one without a
# token shows it anew, that a card found while the window stands behind another
# one brings a notification whose choice activates the window, that Ctrl+Q
# ends the program, and that the tray menu is exported to a StatusNotifierItem
# host on Wayland and works from there. Stops only what it started, by PID.
#
# Usage: wayland.sh FOTOIMPORT [SHOTS-DIR]; WAYLAND_LAUNCHER names the launcher.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
APP=${1:?usage: wayland.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
PYTHON=/usr/bin/python3
CARD=/media/fotoimport-e2e-wayland-card

. "$HERE/lib/common.bash"
require_tools mutter dbus-daemon cjpeg exiftool
if [ ! -x "${WAYLAND_LAUNCHER:-}" ]; then
    echo "skipped: the program was built without Wayland activation (no wayland_launcher)"
    exit 77
fi
if ! "$PYTHON" -c 'import dbus, gi' 2>/dev/null; then
    echo "skipped: python3-dbus or python3-gi is not installed"
    exit 77
fi
in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
e2e_extra_cleanup() { mountpoint -q "$CARD" && umount "$CARD"; }
unset DISPLAY XDG_CONFIG_HOME
export HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime"
start_session_bus

# --- GNOME's compositor, headless, with one virtual monitor
WL=fotoimport-e2e
mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 --wayland-display="$WL" \
    >"$WORK/mutter.log" 2>&1 &
PIDS+=($!)
if ! wait_until 15000 test -S "$XDG_RUNTIME_DIR/$WL"; then
    bad "mutter did not start"
    cat "$WORK/mutter.log"
    finish
fi
export WAYLAND_DISPLAY=$WL QT_QPA_PLATFORM=wayland

# Keys: one chord a line into mutter's remote-desktop session. The first key
# makes its virtual keyboard, which the windows then see.
mkfifo "$WORK/keys"
"$PYTHON" "$HERE/mutter_input.py" <"$WORK/keys" >"$WORK/keys.out" 2>"$WORK/keys.err" &
PIDS+=($!)
exec 7>"$WORK/keys"
wait_until 10000 grep -q '^ready' "$WORK/keys.out" || { bad "no remote-desktop session in mutter"; finish; }
type_keys() { # type_keys CHORD: types it and waits until it is typed
    local n
    n=$(grep -c '^typed' "$WORK/keys.out")
    echo "$1" >&7
    wait_until 5000 eval '[ "$(grep -c "^typed" "$WORK/keys.out")" -gt '"$n"' ]'
    sleep 0.3
}
type_keys Shift

# The program's protocol log: the window's toplevel is the last one it made,
# and its last configure tells its state. Mutter sends a window that is neither
# maximised, fullscreen nor tiled one state at most, "activated": an array of
# 4 bytes is an activated window, an empty one a window without the keyboard.
LOG="$WORK/app.err"
toplevel() { sed -n 's/.*get_toplevel(new id xdg_toplevel@\([0-9]*\)).*/\1/p' "$LOG" | tail -n1; }
toplevels() { grep -c 'get_toplevel(new id xdg_toplevel@' "$LOG"; }
configures() { grep -c "xdg_toplevel@$(toplevel)\.configure(" "$LOG"; }
last_states() {
    local t
    t=$(toplevel)
    [ -n "$t" ] || return 1
    awk -v t="$t" '/get_toplevel\(new id xdg_toplevel@/ { on = index($0, "xdg_toplevel@" t ")") > 0 }
        on && index($0, "xdg_toplevel@" t ".configure(") { s = $0 } END { print s }' "$LOG" |
        sed -n 's/.*configure([0-9]*, [0-9]*, array\[\([0-9]*\)\]).*/\1/p'
}
is_activated() { [ "$(last_states)" = 4 ]; }
is_deactivated() { [ "$(last_states)" = 0 ]; }
alive() { kill -0 "$APP_PID" 2>/dev/null; }
start_app() {
    WAYLAND_DEBUG=1 "$APP" >>"$WORK/app.out" 2>"$LOG" &
    APP_PID=$!
    PIDS+=($APP_PID)
}
# start_launcher: the launcher's window takes the keyboard; TOKEN after a key in it
start_launcher() {
    [ -n "${LAUNCHER_PID:-}" ] && { kill "$LAUNCHER_PID"; wait "$LAUNCHER_PID" 2>/dev/null; forget_pid "$LAUNCHER_PID"; }
    rm -f "$WORK/launcher.in"
    mkfifo "$WORK/launcher.in"
    "$WAYLAND_LAUNCHER" <"$WORK/launcher.in" >"$WORK/launcher.out" 2>"$WORK/launcher.err" &
    LAUNCHER_PID=$!
    PIDS+=($LAUNCHER_PID)
    exec 8>"$WORK/launcher.in"
    wait_until 5000 grep -q '^focus' "$WORK/launcher.out"
}
launcher_token() {
    type_keys Shift
    wait_until 5000 grep -q '^token ' "$WORK/launcher.out" || return 1
    TOKEN=$(sed -n 's/^token //p' "$WORK/launcher.out" | tail -n1)
}

# --- no tray: the window shows at start, activated
start_app
if wait_until 8000 is_activated; then ok "the window shows at start, activated"; else
    bad "no activated window at start (states: $(last_states))"
    finish
fi

# --- the compositor's close (Alt+F4) minimises it; the program runs on
type_keys Alt+F4
if wait_until 3000 grep -q "xdg_toplevel@$(toplevel)\.set_minimized()" "$LOG" && wait_until 3000 is_deactivated; then
    ok "the close minimises the window (set_minimized, deactivated)"
else
    bad "after the close: states $(last_states)"
fi
sleep 1
alive && ok "the program runs on after the close" || { bad "the close ended the program"; finish; }

# --- a second start with the launcher's token activates the minimised window itself
if start_launcher && launcher_token; then ok "the launcher got a token from mutter ($TOKEN)"; else
    bad "no activation token from mutter"
    finish
fi
WINDOW=$(toplevel)
MADE=$(toplevels)
timeout 10 env XDG_ACTIVATION_TOKEN="$TOKEN" "$APP" >"$WORK/second.out" 2>&1
rc=$?
[ "$rc" -eq 0 ] && ok "the second start ends itself" || bad "second start: exit code $rc"
if wait_until 5000 is_activated; then
    ok "the second start's token activates the window"
else
    bad "the window was not activated (states $(last_states))"
fi
grep -q "xdg_activation_v1@[0-9]*\.activate(\"$TOKEN\"" "$LOG" && ok "activated with the launcher's token" ||
    bad "no activation with the launcher's token"
[ "$(toplevel)" = "$WINDOW" ] && [ "$(toplevels)" = "$MADE" ] &&
    ok "the same window came back out of minimised (no new one)" || bad "a new window was made"
wait_until 3000 grep -q '^unfocus' "$WORK/launcher.out" && ok "the launcher lost the keyboard to the window" ||
    bad "the launcher kept the keyboard"

# --- a second start without a token: the window minimised again is shown anew
type_keys Alt+F4
wait_until 3000 is_deactivated || bad "not minimised again"
sleep 0.5
MADE=$(toplevels)
timeout 10 "$APP" >"$WORK/third.out" 2>&1 || bad "third start failed"
if wait_until 5000 eval '[ "$(toplevels)" -gt '"$MADE"' ]' && wait_until 5000 is_activated; then
    ok "without a token the window is shown anew (and mutter activates the new window)"
else
    bad "the window did not come back without a token"
fi

# --- a card while the window stands behind the launcher: attention and a notification
mkfifo "$WORK/notify.in"
"$PYTHON" "$HERE/notification_server.py" 120 <"$WORK/notify.in" >"$WORK/notify.out" 2>"$WORK/notify.err" &
PIDS+=($!)
exec 9>"$WORK/notify.in"
wait_until 5000 grep -q 'server ready' "$WORK/notify.out" || bad "the notification server did not start"
start_launcher # the launcher's new window takes the keyboard; the program's stays behind it
wait_until 3000 is_deactivated || bad "the window kept the keyboard"
mount -t tmpfs -o size=16m fotoimport-card "$CARD" || { bad "cannot mount a tmpfs at $CARD"; finish; }
for n in 1 2 3; do make_photo "$CARD/DCIM/100CANON" "IMG_000$n.JPG" "2024:05:0$n 10:00:00"; done
if wait_until 8000 grep -q '^notify [0-9]* Kamera gefunden|3 Fotos gefunden|default,' "$WORK/notify.out"; then
    ok "a notification tells of the card: $(grep '^notify' "$WORK/notify.out" | tail -n1)"
else
    bad "no notification for the card ($(cat "$WORK/notify.out"))"
fi
is_deactivated && ok "the window itself did not take the keyboard" || bad "states $(last_states)"
read -r _ NOTE _ < <(grep '^notify' "$WORK/notify.out" | tail -n1)
if launcher_token; then
    echo "choose $NOTE $TOKEN" >&9
    if wait_until 5000 is_activated; then ok "choosing the notification activates the window"; else
        bad "the notification's choice did not activate the window (states $(last_states))"
    fi
    grep -q "xdg_activation_v1@[0-9]*\.activate(\"$TOKEN\"" "$LOG" && ok "with the notification's token" ||
        bad "not activated with the notification's token"
else
    bad "no token for the notification"
fi
umount "$CARD"

# --- Ctrl+Q ends the program
sleep 0.5
type_keys Control+q
if wait_until 5000 eval '! alive'; then
    wait "$APP_PID"
    rc=$?
    forget_pid "$APP_PID"
    [ "$rc" -eq 0 ] && ok "Ctrl+Q ends the program (exit code 0)" || bad "Ctrl+Q: exit code $rc"
else
    bad "Ctrl+Q did not end the program"
fi

# --- the tray menu exported to a StatusNotifierItem host, on Wayland
"$PYTHON" "$HERE/sni_watcher.py" 120 >"$WORK/watcher.out" 2>"$WORK/watcher.err" &
PIDS+=($!)
wait_until 10000 grep -q "watcher ready" "$WORK/watcher.out" || { bad "watcher did not start"; finish; }
start_app
if wait_until 10000 grep -q "^registered " "$WORK/watcher.out"; then ok "the icon registers with the host"; else
    bad "no StatusNotifierItem registered"
    finish
fi
read -r _ SERVICE ITEM < <(grep "^registered " "$WORK/watcher.out" | head -n1)
MENU=$("$PYTHON" "$HERE/sni_watcher.py" menu "$SERVICE" "$ITEM" 2>&1 | cut -d' ' -f3- | paste -sd'|')
[ "$MENU" = "Fenster öffnen|Fenster schliessen|Fotos anzeigen (disabled)|Protokoll anzeigen (disabled)|Beenden" ] && ok "the host reads the exported menu: $MENU" ||
    bad "exported menu: $MENU"
MADE=$(toplevels)
"$PYTHON" "$HERE/sni_watcher.py" click "$SERVICE" "$ITEM" "Fenster öffnen" || bad "no entry \"Fenster öffnen\""
wait_until 5000 eval '[ "$(toplevels)" -gt '"$MADE"' ]' && ok "\"Fenster öffnen\" from the host shows the window" ||
    bad "\"Fenster öffnen\" did not show the window"
"$PYTHON" "$HERE/sni_watcher.py" click "$SERVICE" "$ITEM" "Beenden" || bad "no entry \"Beenden\""
if wait_until 5000 eval '! alive'; then ok "\"Beenden\" from the host ends the program"; else
    bad "\"Beenden\" from the host did not end the program"
fi
finish
