#!/usr/bin/env bash
# A card that stops answering in the middle of a run, as a card reader with a
# loose contact or a locked phone does: the card is served by faultfs over
# FUSE (in a private mount namespace), and every request about one of its
# photos is held while a hold file exists. The real program copies the card
# with a real click and reaches that photo. While the run hangs:
# - the window answers the window manager's _NET_WM_PING within 5 s (a
#   desktop offers to kill a program that does not), and
# - it paints itself: covered by another window and uncovered, it shows its
#   contents again, not what covered it.
# Both checks are shown to fail for a frozen program (SIGSTOP) first.
# Then the session ends (SIGTERM): the window and the tray icon are gone
# within 2 s, no temporary file is left in the day folder, every photo is whole
# in its day folder or untouched on the card, and the import log says that the
# run was cut off, how many photos in hand were not finished and how many were
# not begun.
# Stops only what it started, by PID.
#
# Usage: hung_read.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: hung_read.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-hung
HUNG=IMG_0005.JPG

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer openbox xdotool xwininfo xwd cjpeg exiftool cmp
require_fuse
[ -n "$CONVERT" ] && [ -x /usr/bin/compare ] || { echo "skipped: ImageMagick is not installed"; exit 77; }

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
HOLD="$WORK/card-hangs"
REQUESTS="$WORK/card-requests"
HOLDS+=("$HOLD")

# --- the card: 8 photos of one day, served as they are until the hold file exists
# Every other photo taken turned: those before the one that hangs are named at once and turned on the
# workers, the others wait in a group of copies to be named.
make_card "$WORK/store/DCIM/100CANON" 1 8 1200 900 2024:03:01
exiftool -q -overwrite_original -Orientation#=6 "$WORK"/store/DCIM/100CANON/IMG_000[2468].JPG
cp -a "$WORK/store/DCIM" "$WORK/original"
start_faultfs "$WORK/store" "$CARD" --threads --hang "/DCIM/100CANON/$HUNG" --hold "$HOLD" --log "$REQUESTS"
ok "card of 8 photos mounted at $CARD through faultfs"

start_xvfb
start_trayer
start_openbox
start_app
card_window 4000 || { bad "no window \"Hole Fotos\" for the card"; finish; }
find_icon || bad "no tray icon"

# --- the run reaches the photo that hangs
touch "$HOLD"
before=$(wc -l <"$REQUESTS")
copy_photos
reached() { tail -n +$((before + 1)) "$REQUESTS" | grep -q "/$HUNG\$"; }
if wait_until 20000 reached; then ok "the run reached $HUNG, which does not answer"; else
    bad "the run never asked for $HUNG"
    finish
fi
sleep 0.5
# Photos of the run are those the program asked the card about after the click; the others were not begun.
begun=$(tail -n +$((before + 1)) "$REQUESTS" | grep -o 'IMG_[0-9]*\.JPG$' | sort -u | wc -l)
TITLE=$(xdotool getwindowname "$WIN")
[ "$TITLE" = "Hole Fotos" ] && ok "the run hangs (title \"$TITLE\", $begun photos begun)" ||
    bad "the run does not hang: title \"$TITLE\""

# responds_and_paints TAG: the window answers a ping within 5 s, and covered and uncovered by a magenta
# window it shows what it showed before; RESULT tells what was seen
client_shot() { # client_shot NAME: the window's client area, from the screen
    xwd -root -silent | "$CONVERT" xwd:- -crop "${W}x${H}+${CLIENT_X}+${CLIENT_Y}" +repage "$SHOTS/$1.png"
}
magenta() { "$CONVERT" "$SHOTS/$1.png" -fill black +opaque '#FF00FF' -fill white -opaque '#FF00FF' -format '%[fx:round(mean*w*h)]' info:; }
responds_and_paints() {
    local tag=$1 wait_ms=$2 ping_ms cover_pid ready="$WORK/cover.ready" left
    client_origin "$WIN"
    W=$(xwininfo -id "$WIN" | awk '/^ *Width:/{print $2}')
    H=$(xwininfo -id "$WIN" | awk '/^ *Height:/{print $2}')
    client_shot "hung_read_${tag}_1_before"
    ping_ms=$(/usr/bin/python3 "$XWIN" ping "$WIN" "$wait_ms") || ping_ms=""
    rm -f "$ready"
    /usr/bin/python3 "$XWIN" cover "$CLIENT_X" "$CLIENT_Y" "$W" "$H" "$ready" &
    cover_pid=$!
    wait_until 5000 test -e "$ready"
    sleep 0.2
    client_shot "hung_read_${tag}_2_covered"
    kill "$cover_pid"
    wait "$cover_pid"
    local deadline=$(($(now_ms) + wait_ms))
    while :; do
        sleep 0.2
        client_shot "hung_read_${tag}_3_uncovered"
        left=$(magenta "hung_read_${tag}_3_uncovered")
        [ "$left" -eq 0 ] || (($(now_ms) >= deadline)) && break
    done
    RESULT="ping ${ping_ms:-unanswered}, covered $(magenta "hung_read_${tag}_2_covered") magenta pixels, $left left"
    RESULT+=", $(/usr/bin/compare -metric AE "$SHOTS/hung_read_${tag}_1_before.png" \
        "$SHOTS/hung_read_${tag}_3_uncovered.png" null: 2>&1) pixels changed"
    [ -n "$ping_ms" ] && [ "$left" -eq 0 ]
}
# The checks tell a frozen program apart: stopped, it neither answers nor paints.
kill -STOP "$APP_PID"
if ! responds_and_paints frozen 1000; then ok "a stopped program is seen as frozen ($RESULT)"; else
    bad "the checks do not see a stopped program as frozen ($RESULT)"
fi
kill -CONT "$APP_PID"
sleep 1
if responds_and_paints hung 5000; then ok "while the card hangs the window answers and paints ($RESULT)"; else
    bad "while the card hangs the window does not answer or paint ($RESULT)"
fi
shot hung_read_4_hanging "$WIN"

# --- the end of the session while the card hangs
T0=$(now_ms)
kill -TERM "$APP_PID"
if wait_until 5000 main_ended "$APP_PID"; then
    ms=$(($(now_ms) - T0))
    ((ms <= 2000)) && ok "window and tray icon gone ${ms} ms after SIGTERM" ||
        bad "window and tray icon gone only ${ms} ms after SIGTERM (bound 2000 ms)"
else
    bad "the program did not end within 5 s of SIGTERM while the card hangs"
fi
shot hung_read_5_ended
rm -f "$HOLD" # the card answers again: the held thread ends, and so does the process
if app_gone 5000; then ok "the process is gone once the card answers (exit code $RC)"; else
    bad "the process is still there after the card answered"
fi

TARGET="$HOME/Documents/Eigene Bilder"
left=$(temporaries "$TARGET" | wc -l)
[ "$left" -eq 0 ] && ok "no temporary file left in the day folders" || bad "$left temporary files left"
states=$(photo_states "$TARGET/20240301" "$WORK/original/100CANON")
whole=$(grep -c ' \(card\|turned\)$' <<<"$states")
if ! grep -qv ' \(card\|turned\)$' <<<"$states" && [ "$(find "$TARGET" -type f | wc -l)" -eq "$whole" ]; then
    ok "$whole photos in the day folder, each whole: $(grep -c ' turned$' <<<"$states") of them turned"
else
    bad "not every file in the day folder is a whole photo: $states"
fi
diff -r "$WORK/original" "$WORK/store/DCIM" >/dev/null && ok "the card is untouched" || bad "the card changed"
# Begun and not in the day folder: in hand when the run was cut off, their copies not kept.
expected="$((begun - whole)) photos in hand not finished, $((8 - begun)) photos not begun, left on the card"
if import_log | grep -q "run cut off as the program ends while the device does not answer: $expected"; then
    ok "the import log says the run was cut off: $expected"
else
    bad "the import log does not say \"$expected\": $(import_log)"
fi
echo "# log: $(import_log | tr '\n' '|')"
finish
