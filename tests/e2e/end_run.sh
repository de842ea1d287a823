#!/usr/bin/env bash
# The end in the middle of a run: the real program copies and turns a card of
# 120 photos taken turned, and soon after "Fotos kopieren" gets SIGTERM (what a
# logout or a shutdown sends), or the user opens the tray menu with a right
# click (which answers while the run works on its own thread) and chooses
# "Beenden". It must end within a few seconds, leave no temporary file, and
# every photo in the day folder must be whole: the card's own bytes, or the
# photo turned upright and complete. The card keeps every photo (copy mode).
#
# Usage: end_run.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: end_run.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-end
PHOTOS=120

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool cjpeg djpeg exiftool cmp

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
e2e_extra_cleanup() { mountpoint -q "$CARD" && umount "$CARD"; }

# --- the card: 120 photos of 4000 x 3000, all taken turned (orientation 6), so many that their turns take
# far longer than a tray menu takes to open under load. They are hard links to one photo of 3.8 MB: the
# program reads each as a photo of its own, and the card stays small.
if ! mount -t tmpfs -o size=256m fotoimport-card "$CARD"; then
    bad "cannot mount a tmpfs at $CARD"
    finish
fi
mkdir -p "$CARD/DCIM/100CANON"
/usr/bin/python3 - "$WORK/big.ppm" <<'PY'
import sys
w, h = 4000, 3000
row = bytes(((x // 18) * 5 + (x % 3) * 60 + (x // 90) * 17) % 256 for x in range(w * 3))
with open(sys.argv[1], "wb") as out:
    out.write(b"P6\n%d %d\n255\n" % (w, h))
    for y in range(h):
        s = (y // 4) % 251 * 3
        out.write(row[s:] + row[:s])
PY
cjpeg -quality 95 "$WORK/big.ppm" >"$WORK/big.jpg"
exiftool -q -overwrite_original -DateTimeOriginal="2024:05:01 09:00:00" -Orientation#=6 "$WORK/big.jpg"
cp "$WORK/big.jpg" "$CARD/DCIM/100CANON/IMG_1001.JPG"
for i in $(seq 1002 $((1000 + PHOTOS))); do ln "$CARD/DCIM/100CANON/IMG_1001.JPG" "$CARD/DCIM/100CANON/IMG_$i.JPG"; done
if [ "$(find "$CARD/DCIM" -type f | wc -l)" -eq $PHOTOS ]; then ok "card with $PHOTOS turned photos mounted at $CARD"; else
    bad "the card's photos could not be made"
    finish
fi

start_xvfb
start_trayer
TARGET="$HOME/Documents/Eigene Bilder"
LOG="$HOME/.local/state/fotoimport/import.log"

# run_and_end WAY: a run of the card, ended once the first photos have arrived and others are on their way:
# by SIGTERM, as the end of the session does it, or by "Beenden" in the tray menu opened with a right click
# during the run, as a person does it.
run_and_end() {
    local way=$1 ended="" rc T0 WIN stray arrived=0 turned=0 broken=0 f
    rm -rf "$TARGET" "$LOG"
    "$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
    APP_PID=$!
    PIDS+=($APP_PID)
    if wait_until 3000 is_visible "Hole Fotos"; then ok "$way: window \"Hole Fotos\" open"; else
        bad "$way: no window \"Hole Fotos\" within 3 s"
        finish
    fi
    WIN=$(visible_window "Hole Fotos")
    if [ "$way" = menu ] && ! find_icon; then
        bad "$way: no tray icon"
        return
    fi
    sleep 0.3
    click_in "$WIN" 162 108 # Button2 "Fotos kopieren" at 112,96, 100x25
    photo_arrived() { [ -n "$(find "$TARGET" -name 'IMG_*.JPG' 2>/dev/null | head -n1)" ]; }
    wait_until 10000 photo_arrived || bad "$way: no photo arrived within 10 s"
    shot "end_run_${way}_1_during_run" "$WIN"
    T0=$(now_ms)
    if [ "$way" = sigterm ]; then
        kill -TERM "$APP_PID"
    elif menu_item 3 "Hole Fotos|$FINISHED"; then
        ok "$way: the tray menu opens during the run ($(($(now_ms) - T0)) ms) and \"Beenden\" is chosen"
    else
        bad "$way: no tray menu during the run"
    fi
    while (($(now_ms) - T0 < 20000)); do
        alive || { ended=yes; break; }
        sleep 0.05
    done
    if [ -n "$ended" ]; then
        wait "$APP_PID"
        rc=$?
        forget_pid "$APP_PID"
        ok "$way: the program ended $(($(now_ms) - T0)) ms after the end was asked for (exit code $rc)"
    else
        bad "$way: the program still runs 20 s after the end was asked for"
        return
    fi

    # --- what is in the day folder is whole
    stray=$(find "$TARGET" -name '.fotoimport-*' | wc -l)
    if [ "$stray" -eq 0 ]; then ok "$way: no temporary file left"; else bad "$way: $stray temporary files left"; fi
    for f in "$TARGET"/20240501/*; do
        [ -e "$f" ] || continue
        arrived=$((arrived + 1))
        if cmp -s "$f" "$WORK/big.jpg"; then continue; fi
        if [ "$(djpeg "$f" 2>&1 >/dev/null | wc -c)" -eq 0 ] &&
            [ "$(exiftool -s -s -s -n -Orientation -ImageWidth "$f" | tr '\n' ' ')" = "1 4000 " ]; then
            turned=$((turned + 1))
        else
            broken=$((broken + 1))
            echo "# not whole: $f"
        fi
    done
    if ((broken == 0 && arrived > 0)); then
        ok "$way: $arrived photos arrived, each whole: $turned turned upright, $((arrived - turned)) as on the card"
    else
        bad "$way: $broken of $arrived photos in the day folder are neither the card's bytes nor a whole turned photo"
    fi
    if ((arrived < PHOTOS || turned < PHOTOS)); then ok "$way: the run was cut short ($arrived arrived, $turned turned)"; else
        bad "$way: the run had ended before the end was asked for: nothing was tested (make the card larger)"
    fi
    if [ "$(find "$CARD/DCIM" -type f | wc -l)" -eq $PHOTOS ]; then ok "$way: the card keeps its $PHOTOS photos"; else
        bad "$way: the card lost photos in copy mode"
    fi
    if grep -q "run ended: $arrived transferred" "$LOG" 2>/dev/null; then
        ok "$way: the import log ends the run with the $arrived photos that arrived"
    else
        bad "$way: the import log does not end the run: $(cat "$LOG" 2>&1)"
    fi
    echo "# log: $(grep -c 'not turned: .*the program ended' "$LOG" 2>/dev/null) photos logged as not turned for the end"
}

for way in sigterm menu; do run_and_end "$way"; done
finish
