#!/usr/bin/env bash
# The watcher's states with real cards (tmpfs mounted under /media in a private
# mount namespace), the real program under Xvfb with the trayer tray host and
# real clicks:
# - a card dismissed with "Fenster Schliessen" is copied when the window is
#   reopened from the tray and "Fotos kopieren" is pressed;
# - after the run, hiding the window through the tray menu re-arms the watcher:
#   the next card opens the window by itself.
# Stops only what it started, by PID.
#
# Usage: card_states.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: card_states.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD_A=/media/fotoimport-e2e-a
CARD_B=/media/fotoimport-e2e-b

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo cjpeg exiftool

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD_A" "$CARD_B"

e2e_init "$SHOTS"
e2e_extra_cleanup() {
    mountpoint -q "$CARD_A" && umount "$CARD_A"
    mountpoint -q "$CARD_B" && umount "$CARD_B"
}
TARGET="$WORK/home/Documents/Eigene Bilder"

# mount_card MOUNTPOINT NAME...: a tmpfs card holding these photos of
# 2005-07-14, complete when it appears
mount_card() {
    local at=$1 name i=0 stage="$WORK/stage-${1##*/}"
    shift
    for name in "$@"; do
        i=$((i + 1))
        make_photo "$stage/DCIM/100TEST" "$name" "2005:07:14 10:0$i:00"
    done
    mount -t tmpfs -o size=16m fotoimport-card "$at" || { bad "cannot mount a tmpfs at $at"; finish; }
    cp -a "$stage/DCIM" "$at/"
}
mount_card "$CARD_A" A_0001.JPG A_0002.JPG
start_xvfb
start_trayer

# --- the card is found; "Fenster Schliessen" dismisses it
"$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
find_icon || { bad "no tray icon"; finish; }
if wait_until 3000 is_visible "Hole Fotos"; then ok "card A found: window \"Hole Fotos\""; else
    bad "no window for card A"
    finish
fi
WIN=$(visible_window "Hole Fotos")
sleep 0.4
click_in "$WIN" 298 108 # Button1 "Fenster Schliessen" at 248,96, 100x25
if wait_until 3000 is_hidden "Hole Fotos" && stays 1500 is_hidden "Hole Fotos"; then
    ok "\"Fenster Schliessen\" dismisses the card: the window stays hidden"
else
    bad "the window came back although the card was dismissed"
fi

# --- reopened from the tray, "Fotos kopieren" copies the dismissed card
click_icon 1
wait_until 3000 is_visible "Hole Fotos" || { bad "the icon does not show the window"; finish; }
WIN=$(visible_window "Hole Fotos")
sleep 0.4
shot states_1_dismissed_reopened "$WIN"
click_in "$WIN" 162 108 # Button2 "Fotos kopieren" at 112,96, 100x25
if wait_until 20000 is_visible "$FINISHED"; then ok "\"Fotos kopieren\" runs for the dismissed card"; else
    bad "no finished transfer"
fi
WIN=$(visible_window "$FINISHED")
sleep 0.4
shot states_2_dismissed_copied "$WIN"
copied=0
for f in A_0001.JPG A_0002.JPG; do
    cmp -s "$CARD_A/DCIM/100TEST/$f" "$TARGET/20050714/$f" && copied=$((copied + 1))
done
[ "$copied" -eq 2 ] && ok "both photos of the dismissed card are in their day folder" ||
    bad "$copied of 2 photos copied: $(cd "$WORK/home" && find . -type f | tr '\n' ' ')"

# --- the finished window hidden through the tray menu: the watcher runs again
menu_item 2 "$FINISHED" && wait_until 3000 is_hidden "$FINISHED" ||
    bad "the tray menu did not hide the finished window"
umount "$CARD_A"
sleep 1.5 # a tick sees no card
mount_card "$CARD_B" B_0001.JPG B_0002.JPG B_0003.JPG
if wait_until 3000 is_visible "Hole Fotos"; then ok "the next card opens the window by itself: the watcher was re-armed"; else
    bad "card B went unnoticed after the finished window was hidden"
fi
WIN=$(visible_window "Hole Fotos")
sleep 0.4
shot states_3_rearmed_next_card "$WIN"
click_in "$WIN" 162 108
wait_until 20000 is_visible "$FINISHED" || bad "no finished transfer of card B"
n=$(ls "$TARGET/20050714" 2>/dev/null | grep -c '^B_')
[ "$n" -eq 3 ] && ok "card B's 3 photos copied" || bad "$n of card B's 3 photos copied"
finish
