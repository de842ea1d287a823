#!/usr/bin/env bash
# Opened by the desktop for a card: file managers start the program with the
# card's folder or file:// URI. A later start hands it to the running program,
# which shows that card at once; a first start with a folder shows it too.
# Neither card is at a place the one-second scan looks at, so only the handed
# folder can bring the window up. Stops only what it started, by PID.
#
# Usage: open_volume.sh FOTOIMPORT [SHOTS-DIR]
set -u
APP=${1:?usage: open_volume.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
APP=$(cd "$(dirname "$APP")" && pwd)/$(basename "$APP")

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo cjpeg exiftool python3
e2e_init "$SHOTS"
TARGET="$WORK/home/Documents/Eigene Bilder"
VOLUME_C="$WORK/EOS DIGITAL"
VOLUME_D="$WORK/volD"
for i in 1 2 3; do make_photo "$VOLUME_C/DCIM/100CANON" "C_000$i.JPG" "2006:01:02 08:0$i:00"; done
make_photo "$VOLUME_D/DCIM/100TEST" D_0001.JPG "2007:03:04 09:00:00"
start_xvfb
start_trayer

# copy_and_count PREFIX DAY: presses "Fotos kopieren" in WIN and prints how many
# photos named PREFIX* reached the day folder
copy_and_count() {
    click_in "$WIN" 162 108 # Button2 "Fotos kopieren" at 112,96, 100x25
    wait_until 20000 is_visible "$FINISHED" || bad "no finished transfer"
    ls "$TARGET/$2" 2>/dev/null | grep -c "^$1"
}

# --- the running program is handed a card's URI by a later start
"$APP" >"$WORK/app1.out" 2>"$WORK/app1.err" &
APP_PID=$!
PIDS+=($APP_PID)
find_icon || { bad "no tray icon"; finish; }
sleep 0.5
is_hidden "Hole Fotos" && is_hidden "Warte auf Kamera" || bad "a window is open before the card is handed over"
uri=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri())' "$VOLUME_C")
echo "# handing over $uri"
timeout 10 "$APP" "$uri" >"$WORK/app2.out" 2>"$WORK/app2.err"
rc=$?
[ "$rc" -eq 0 ] && ok "the later start hands the card over and ends (exit code 0)" || bad "later start: exit code $rc"
if wait_until 3000 is_visible "Hole Fotos"; then ok "the running program shows the handed card at once"; else
    bad "the handed card did not open the window"
    shot open_no_window
    finish
fi
WIN=$(visible_window "Hole Fotos")
sleep 0.4
shot open_1_second_instance "$WIN"
n=$(copy_and_count C_ 20060102)
[ "$n" -eq 3 ] && ok "its 3 photos copied" || bad "$n of its 3 photos copied"
alive || bad "the program ended"
menu_item 3 "$FINISHED"
wait_until 5000 eval '! alive' && forget_pid "$APP_PID" || bad "\"Beenden\" did not end the program"

# --- a first start with a folder (relative to where it is started)
(cd "$WORK" && exec "$APP" volD >"$WORK/app3.out" 2>"$WORK/app3.err") &
APP_PID=$!
PIDS+=($APP_PID)
if wait_until 3000 is_visible "Hole Fotos"; then ok "started with a card's folder, the window shows that card"; else
    bad "no window for the folder given at start"
    finish
fi
WIN=$(visible_window "Hole Fotos")
sleep 0.4
shot open_2_first_start "$WIN"
n=$(copy_and_count D_ 20070304)
[ "$n" -eq 1 ] && ok "its photo copied" || bad "$n of its 1 photo copied"
finish
