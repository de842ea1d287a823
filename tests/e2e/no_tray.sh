#!/usr/bin/env bash
# A desktop without a tray (GNOME Shell without its extension, some Wayland
# compositors): no XEmbed tray host and no StatusNotifierItem watcher on the
# session bus. The window must show at start and be minimised where it would
# be hidden, so the program stays reachable; a tray host that starts later
# takes over and the program behaves as with a tray from then on. Stops only
# what it started, by PID.
#
# Usage: no_tray.sh FOTOIMPORT [SHOTS-DIR]
set -u
APP=${1:?usage: no_tray.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
TITLE="Warte auf Kamera"

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb openbox trayer xdotool xwininfo xprop dbus-daemon
e2e_init "$SHOTS"
start_xvfb
start_openbox
start_session_bus # a bus without a StatusNotifierWatcher: no D-Bus tray either

# start_app: the program, and its window within 5 s in WIN
start_app() {
    local t0
    t0=$(now_ms)
    "$APP" >>"$WORK/app.out" 2>>"$WORK/app.err" &
    APP_PID=$!
    PIDS+=($APP_PID)
    if wait_until 5000 is_visible "$TITLE"; then ok "window shown $(($(now_ms) - t0)) ms after start"; else
        bad "no window after start"
        shot no_tray_nothing
        finish
    fi
    WIN=$(visible_window "$TITLE")
    sleep 0.5
}
# restore: the window brought back from the task list (the desktop activates it)
restore() {
    xdotool windowactivate --sync "$WIN" 2>/dev/null
    wait_until 3000 is_visible "$TITLE" && [ "$(wm_state "$WIN")" = Normal ] || return 1
    sleep 0.5 # mapped and focused before it is clicked
}

# --- no tray: the window is there at start, and closing it minimises it
start_app
[ "$(wm_state "$WIN")" = Normal ] && ok "a normal window, not minimised" || bad "WM_STATE $(wm_state "$WIN")"
shot no_tray_1_start "$WIN"
click_close_button "$WIN"
if wait_until 3000 is_iconic "$WIN"; then ok "the frame's close button minimises the window (WM_STATE Iconic)"; else
    bad "after the close button: WM_STATE $(wm_state "$WIN")"
fi
sleep 0.5
alive && ok "the program keeps running" || bad "the close button ended the program"
shot no_tray_2_minimised
restore && ok "the minimised window comes back from the task list" || bad "the window did not come back"
click_in "$WIN" 298 108 # Button1 "Fenster Schliessen" at 248,96, 100x25
if wait_until 3000 is_iconic "$WIN"; then ok "\"Fenster Schliessen\" minimises the window"; else
    bad "after \"Fenster Schliessen\": WM_STATE $(wm_state "$WIN")"
fi
restore || bad "the window did not come back a second time"

# --- a tray host comes: the icon goes into it, and the open window stays open
start_trayer
if find_icon; then ok "the icon is embedded in the tray host that started later"; else
    bad "no icon in the late tray host"
    finish
fi
if stays 2500 is_visible "$TITLE"; then ok "the window the user brought back stays open"; else bad "the open window vanished"; fi
shot no_tray_3_tray_came

# --- from now on as with a tray: closing hides into the tray, the icon shows the window
click_close_button "$WIN"
if wait_until 3000 is_hidden "$TITLE"; then ok "the close button now hides the window into the tray"; else
    bad "the window is still there"
fi
sleep 0.5
is_iconic "$WIN" && bad "minimised although there is a tray"
alive && ok "the program keeps running" || bad "the program ended"
shot no_tray_4_hidden_in_tray
click_icon 1
if wait_until 5000 is_visible "$TITLE" && stays 1000 is_visible "$TITLE"; then
    ok "a click on the icon shows the window, and it stays"
else
    bad "the icon does not show the window (WM_STATE $(wm_state "$(app_window "$TITLE")"))"
fi
sleep 0.3
shot no_tray_5_shown_from_tray "$(visible_window "$TITLE")"
menu_item 3 "$TITLE"
wait_until 5000 eval '! alive' && forget_pid "$APP_PID" || bad "\"Beenden\" did not end the program"

# --- the desktop's panel starts after the program (autostart): the window
# shown for want of a tray goes into the tray once it is there
kill "$TRAYER_PID"
wait "$TRAYER_PID" 2>/dev/null
forget_pid "$TRAYER_PID"
start_app
T1=$(now_ms)
start_trayer
find_icon || bad "no icon in the tray host"
if wait_until 5000 is_hidden "$TITLE"; then ok "the window went into the tray $(($(now_ms) - T1)) ms after the tray host started"; else
    bad "the window stays out of the tray"
fi
is_iconic "$(app_window "$TITLE")" && bad "minimised instead of hidden"
shot no_tray_6_late_tray_at_start
finish
