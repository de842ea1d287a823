#!/usr/bin/env bash
# After an import the user gets to the photos and to the reasons: a click on
# the window's message opens the day folder the photos went into, a click on
# the status bar opens the log that says why a photo was not transferred, and
# the tray menu's "Fotos anzeigen" and "Protokoll anzeigen" do the same. The
# desktop's opener (xdg-open, which Qt's desktop services start) is replaced by
# one that writes down what it is given. One photo's day folder is taken by a
# file, so that photo fails. Stops only what it started, by PID.
#
# Usage: open_photos.sh FOTOIMPORT [SHOTS-DIR]
set -u
APP=${1:?usage: open_photos.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
APP=$(cd "$(dirname "$APP")" && pwd)/$(basename "$APP")

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer openbox xdotool xwininfo xprop cjpeg exiftool python3
e2e_init "$SHOTS"
TARGET="$WORK/home/Documents/Eigene Bilder"
CARD="$WORK/card"
make_photo "$CARD/DCIM/100CANON" IMG_0001.JPG "2005:07:14 10:22:33"
make_photo "$CARD/DCIM/100CANON" IMG_0002.JPG "2006:01:02 08:00:00"
mkdir -p "$TARGET"
echo "no folder" >"$TARGET/20050714"
DAY_URL=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri())' "$TARGET/20060102")
LOG_URL=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri())' \
    "$WORK/home/.local/state/fotoimport/import.log")
mkdir -p "$WORK/bin"
cat >"$WORK/bin/xdg-open" <<OPENER
#!/bin/sh
echo "\$1" >>"$WORK/opened"
OPENER
chmod +x "$WORK/bin/xdg-open"
export PATH="$WORK/bin:$PATH"
start_xvfb
start_openbox
start_trayer

# opened_is LINE...: what the opener was given, in order
opened_is() { [ "$(cat "$WORK/opened" 2>/dev/null)" = "$(printf '%s\n' "$@")" ]; }
# tray_item N: chooses the tray menu's item N (1..5) after the run by keys
tray_item() {
    local keys=() i
    open_menu "open_menu_$1" "$FINISHED" || return 1
    for ((i = 0; i < $1; i++)); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
}

"$APP" "$CARD" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
find_icon || { bad "no tray icon"; finish; }
wait_until 5000 is_visible "Hole Fotos" || { bad "the card did not open the window"; finish; }
WIN=$(visible_window "Hole Fotos")
sleep 0.4
click_in "$WIN" 200 72 # the message: no link before a run
open_menu open_0_menu_before_run "Hole Fotos" && xdotool key Escape || bad "no tray menu"
click_in "$WIN" 162 108 # Button2 "Fotos kopieren"
wait_until 20000 is_visible "$FINISHED" || { bad "no finished transfer"; finish; }
WIN=$(visible_window "$FINISHED")
[ -f "$TARGET/20060102/IMG_0002.JPG" ] && ok "the photo of 2006-01-02 is copied" || bad "IMG_0002.JPG not copied"
opened_is && ok "nothing was opened before the run ended" || bad "opened before the end: $(cat "$WORK/opened")"
xdotool mousemove 0 0
sleep 0.5
shot open_1_after_run "$WIN"

click_in "$WIN" 228 72 # the message "Übertragung mit Fehlern beendet"
wait_until 5000 opened_is "$DAY_URL" && ok "a click on the message opens the day folder" ||
    bad "message click: $(cat "$WORK/opened" 2>/dev/null)"
sleep 0.3
click_in "$WIN" 75 136 # the first panel of the status bar: "1 Fotos nicht übertragen"
wait_until 5000 opened_is "$DAY_URL" "$LOG_URL" && ok "a click on the status bar opens the log" ||
    bad "status bar click: $(cat "$WORK/opened" 2>/dev/null)"
grep -q "failed: .*IMG_0001.JPG" "$WORK/home/.local/state/fotoimport/import.log" &&
    ok "the log names the photo that failed" || bad "the log does not name IMG_0001.JPG"

tray_item 3 && wait_until 5000 opened_is "$DAY_URL" "$LOG_URL" "$DAY_URL" &&
    ok "the tray menu's \"Fotos anzeigen\" opens the day folder" || bad "\"Fotos anzeigen\": $(cat "$WORK/opened")"
tray_item 4 && wait_until 5000 opened_is "$DAY_URL" "$LOG_URL" "$DAY_URL" "$LOG_URL" &&
    ok "the tray menu's \"Protokoll anzeigen\" opens the log" || bad "\"Protokoll anzeigen\": $(cat "$WORK/opened")"
alive && ok "the program goes on" || bad "the program ended"
finish
