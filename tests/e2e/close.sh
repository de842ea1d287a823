#!/usr/bin/env bash
# Closing the window as people do on a desktop: a real window manager
# (openbox) draws a close button on the frame and binds Alt+F4, whatever the
# window asks for. Both must hide the window into the tray, as the tray menu's
# "Fenster schliessen" does, and leave the program running with its icon in
# the tray host (trayer); only "Beenden" ends it. The title bar shows the
# caption alone. Stops only what it started, by PID.
#
# Usage: close.sh FOTOIMPORT [SHOTS-DIR]
set -u
APP=${1:?usage: close.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
TITLE="Warte auf Kamera"

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb openbox trayer xdotool xwininfo xprop
e2e_init "$SHOTS"
start_xvfb
start_openbox
start_trayer

"$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
find_icon || { bad "no tray icon"; finish; }
sleep 0.5
is_hidden "$TITLE" && ok "window hidden at start" || bad "window visible at start"

# open_window: a click on the icon, then the window's id in WIN
open_window() {
    click_icon 1
    wait_until 5000 is_visible "$TITLE" || return 1
    WIN=$(visible_window "$TITLE")
    sleep 0.4
}

# --- the close button on openbox's frame
open_window || { bad "a click on the icon did not show the window"; finish; }
name=$(net_wm_name "$WIN")
if [ "$name" = "$TITLE" ]; then ok "the title bar shows the caption alone: \"$name\""; else
    bad "title bar: \"$name\""
fi
shot close_1_window "$WIN"
click_close_button "$WIN"
if wait_until 3000 is_hidden "$TITLE"; then ok "the frame's close button hides the window"; else
    bad "the window is still there after the close button"
fi
sleep 0.5
alive && ok "the program keeps running" || bad "the close button ended the program"
is_iconic "$WIN" && bad "the window was minimised instead of hidden"
find_icon && ok "its icon is still in the tray" || bad "the icon left the tray"
shot close_2_after_close_button

# --- Alt+F4
open_window || { bad "the icon does not show the window again"; finish; }
xdotool windowactivate --sync "$WIN" 2>/dev/null
xdotool key alt+F4
if wait_until 3000 is_hidden "$TITLE"; then ok "Alt+F4 hides the window"; else bad "the window is still there after Alt+F4"; fi
sleep 0.5
alive && ok "the program keeps running after Alt+F4" || bad "Alt+F4 ended the program"
find_icon && ok "its icon is still in the tray after Alt+F4" || bad "the icon left the tray"
shot close_3_after_alt_f4

# --- the icon still works, and only "Beenden" ends the program
open_window && ok "a click on the icon shows the window again" || bad "the icon no longer shows the window"
menu_item 3 "$TITLE"
if wait_until 5000 eval '! alive'; then
    wait "$APP_PID"
    rc=$?
    forget_pid "$APP_PID"
    [ "$rc" -eq 0 ] && ok "\"Beenden\" ends the program (exit code 0)" || bad "exit code $rc"
else
    bad "\"Beenden\" did not end the program"
fi
finish
