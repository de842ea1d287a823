#!/usr/bin/env bash
# The program in its tray, as a person uses it: a real X server (Xvfb), a real
# XEmbed tray host (trayer), real clicks (xdotool) and screenshots (xwd).
# Checks that the icon is embedded, that the main window starts hidden, that a
# click shows it, a double-click leaves it hidden, and that the menu's three
# items work. Stops only what it started, by PID.
#
# Usage: tray.sh FOTOIMPORT [SHOTS-DIR]
set -u
APP=${1:?usage: tray.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
TITLE="Warte auf Kamera"

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo
e2e_init "$SHOTS"
start_xvfb
start_trayer

# The main window as a person sees it: mapped, with its title.
main_window() { xdotool search --onlyvisible --name "^${TITLE}\$" 2>/dev/null | head -n1; }
# wait_for visible|hidden: polls up to 5 s for the main window's state
wait_for() {
    local t0
    t0=$(now_ms)
    while (($(now_ms) - t0 < 5000)); do
        if [ "$1" = visible ] && [ -n "$(main_window)" ]; then return 0; fi
        if [ "$1" = hidden ] && [ -z "$(main_window)" ]; then return 0; fi
        sleep 0.05
    done
    return 1
}
# stays_hidden: the window does not appear within 1.5 s
stays_hidden() {
    local t0
    t0=$(now_ms)
    while (($(now_ms) - t0 < 1500)); do
        [ -z "$(main_window)" ] || return 1
        sleep 0.05
    done
}
# --- the program: icon in the tray, window hidden
"$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
if find_icon; then ok "icon embedded in the tray host"; else
    bad "no tray icon"
    finish
fi
sleep 0.5
if [ -z "$(main_window)" ]; then ok "main window hidden at start"; else bad "main window visible at start"; fi
shot 01_start

click_icon 1
if wait_for visible; then ok "a click on the icon shows the window \"$TITLE\""; else bad "click did not show the window"; fi
sleep 0.5
shot 02_window_shown "$(main_window)"

if menu_item 2 "$TITLE" && wait_for hidden; then ok "menu \"Fenster schliessen\" hides the window"; else
    bad "\"Fenster schliessen\" did not hide the window"
fi

click_icon 1 2 100
sleep 0.3
if wait_for hidden && stays_hidden; then ok "a double-click leaves the window hidden"; else
    bad "window visible after a double-click"
fi

if menu_item 1 "$TITLE" && wait_for visible; then ok "menu \"Fenster öffnen\" shows the window"; else
    bad "\"Fenster öffnen\" did not show the window"
fi
shot 03_opened_by_menu

# --- a new tray host: Qt embeds the icon again by itself
menu_item 2 "$TITLE" && wait_for hidden || bad "\"Fenster schliessen\" did not hide the window"
kill "$TRAYER_PID"
wait "$TRAYER_PID" 2>/dev/null
forget_pid "$TRAYER_PID"
sleep 0.5
start_trayer
if find_icon; then ok "icon back after the tray host restarted"; else bad "icon not back after tray host restart"; fi
echo "# main window after the restart: $([ -n "$(main_window)" ] && echo visible || echo hidden)"
click_icon 1
if wait_for visible; then ok "a click on the re-embedded icon shows the window"; else bad "re-embedded icon does not react"; fi

# --- "Beenden" ends the program
menu_item 3 "$TITLE"
for _ in $(seq 50); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$APP_PID" 2>/dev/null; then bad "menu \"Beenden\" did not end the program"; else
    wait "$APP_PID"
    rc=$?
    forget_pid "$APP_PID"
    if [ "$rc" -eq 0 ]; then ok "menu \"Beenden\" ends the program (exit code 0)"; else bad "program ended with exit code $rc"; fi
fi
sleep 0.3
if [ -z "$(xdotool search --onlyvisible --class '^fotoimport$' 2>/dev/null)" ]; then ok "icon gone from the tray"; else
    bad "icon still in the tray"
fi
shot 04_after_quit
finish
