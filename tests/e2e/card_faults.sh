#!/usr/bin/env bash
# Cards that read wrongly, served by faultfs over FUSE in a private mount
# namespace, copied by the real program with a real click on "Fotos kopieren":
# - a flaky reader: the first read of the middle of every photo has one bit
#   flipped (uncached, so every read reaches the card). Each copy is verified
#   against a second read of the card and copied again when they differ: every
#   copy equals the card's photo, and the card may be formatted;
# - a failing photo: every read of one photo's middle is wrong in another way.
#   That photo fails as a mismatch, nothing is left under its name, and the
#   window says that a file stays on the card;
# - a folder of the card that cannot be listed: it is named in the log with its
#   reason, the run ends with faults, and the card must not be formatted.
# The window's title, the import log and the day folders must agree.
# Stops only what it started, by PID.
#
# Usage: card_faults.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: card_faults.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-faults

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo cjpeg djpeg exiftool cmp
require_fuse

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
start_xvfb
start_trayer

# import CASE FAULTFS-OPTION...: the card $WORK/CASE served with these faults, imported into a home of its
# own by a program of its own, which is ended afterwards; DAY (the day folder), LOG (the import log), TITLE
import() {
    local case=$1
    shift
    start_faultfs "$WORK/$case" "$CARD" --direct-io --log "$WORK/$case.requests" "$@"
    export HOME="$WORK/home-$case"
    mkdir -p "$HOME"
    start_app "-$case"
    card_window 4000 || { bad "$case: no window \"Hole Fotos\""; finish; }
    copy_photos
    if run_ended 30000; then ok "$case: the run ended, title \"$TITLE\""; else
        bad "$case: the run did not end within 30 s"
        TITLE=""
    fi
    sleep 0.4
    shot "card_faults_$case" "$WIN"
    kill -TERM "$APP_PID"
    app_gone 5000 || bad "$case: the program did not end"
    umount "$CARD" && wait "$FAULTFS_PID"
    forget_pid "$FAULTFS_PID"
    DAY="$HOME/Documents/Eigene Bilder/20240410"
    LOG=$(import_log)
}
# the_rest_whole CASE: every file in the day folder is a photo of the card with its bytes, and no temporary
the_rest_whole() {
    local states
    states=$(photo_states "$DAY" "$WORK/$1/DCIM/100CANON")
    if [ -n "$states" ] && ! grep -qv ' card$' <<<"$states" &&
        [ "$(find "$DAY" -type f | wc -l)" -eq "$(wc -l <<<"$states")" ]; then
        ok "$1: the $(wc -l <<<"$states") photos in the day folder equal the card's byte for byte, nothing else there"
    else
        bad "$1: the day folder does not hold only the card's photos: $states $(ls -a "$DAY" 2>&1)"
    fi
}

# --- a flaky reader: ten photos, each read wrongly once
make_card "$WORK/flaky/DCIM/100CANON" 1 10 1200 900 2024:04:10
import flaky --flip-middle once
# Each photo's middle byte was read wrongly once, in its copy (its metadata lies at its start), and then
# rightly at least three times: compared with the card, found different and copied again, compared again.
recopied=$(awk '$1 == "flip" { f[$2]++ } $1 == "middle" { m[$2]++ }
                END { for (p in f) if (f[p] == 1 && m[p] >= 3) n++; print n + 0 }' "$WORK/flaky.requests")
[ "$recopied" -eq 10 ] && ok "flaky: each of the 10 photos was read wrongly once, found different and copied again" ||
    bad "flaky: only $recopied of 10 photos were read wrongly once and copied again"
the_rest_whole flaky
[ "$TITLE" = "Karte kann formatiert werden" ] && ok "flaky: the title says the card may be formatted" ||
    bad "flaky: title \"$TITLE\""
if grep -q "run ended: 10 transferred (0 renamed, 0 stayed on the card), 0 turned, 0 not turned, 0 already there, 0 failed" <<<"$LOG" &&
    grep -q "card may be formatted: every file below DCIM is in the target and verified" <<<"$LOG" &&
    ! grep -q "failed:" <<<"$LOG"; then
    ok "flaky: the log counts 10 photos transferred, no failure, and lets the card be formatted"
else
    bad "flaky: the log says otherwise: $LOG"
fi

# --- a failing photo: every read of IMG_0003.JPG differs from the one before
make_card "$WORK/failing/DCIM/100CANON" 1 4 1200 900 2024:04:10
import failing --flip-middle always --flip-only /DCIM/100CANON/IMG_0003.JPG
flips=$(grep -c '^flip /DCIM/100CANON/IMG_0003.JPG$' "$WORK/failing.requests")
((flips >= 4)) && ok "failing: IMG_0003.JPG was read wrongly $flips times (copied, compared, copied again, compared)" ||
    bad "failing: IMG_0003.JPG was read wrongly only $flips times"
[ ! -e "$DAY/IMG_0003.JPG" ] && ok "failing: nothing under the failing photo's name" || bad "failing: IMG_0003.JPG is in the day folder"
the_rest_whole failing
[ "$TITLE" = "1 Dateien bleiben auf der Karte" ] && ok "failing: the title says 1 file stays on the card" ||
    bad "failing: title \"$TITLE\""
if grep -q "failed: $CARD/DCIM/100CANON/IMG_0003.JPG -> $DAY/IMG_0003.JPG: the copy read back differs from the original, also when copied again" <<<"$LOG" &&
    grep -q "run ended: 3 transferred (0 renamed, 0 stayed on the card), 0 turned, 0 not turned, 0 already there, 1 failed" <<<"$LOG" &&
    grep -q "card must not be formatted: 1 of 4 files stay on the card; failed: 1 x copy differs from the original" <<<"$LOG"; then
    ok "failing: the log names the mismatch, counts 3 transferred and 1 failed, and keeps the card"
else
    bad "failing: the log says otherwise: $LOG"
fi

# --- a folder that cannot be listed: 101CANON's two photos are never seen
make_card "$WORK/unlisted/DCIM/100CANON" 1 3 1200 900 2024:04:10
make_card "$WORK/unlisted/DCIM/101CANON" 4 2 1200 900 2024:04:10
import unlisted --fail-listing /DCIM/101CANON
the_rest_whole unlisted
[ ! -e "$DAY/IMG_0004.JPG" ] && [ ! -e "$DAY/IMG_0005.JPG" ] && ok "unlisted: no photo of the unlisted folder arrived" ||
    bad "unlisted: a photo of the unlisted folder arrived"
[[ "$TITLE" =~ ^[1-9][0-9]*\ Dateien\ bleiben\ auf\ der\ Karte$ ]] && ok "unlisted: the title says files stay ($TITLE)" ||
    bad "unlisted: title \"$TITLE\""
if grep -q "failed: $CARD/DCIM/101CANON: cannot be read: Input/output error" <<<"$LOG" &&
    grep -q "run ended: 3 transferred (0 renamed, 0 stayed on the card), 0 turned, 0 not turned, 0 already there, 1 failed" <<<"$LOG" &&
    grep -q "card must not be formatted: .*folders that cannot be read: 1" <<<"$LOG"; then
    ok "unlisted: the log names the folder and its reason, counts it as failed, and keeps the card"
else
    bad "unlisted: the log says otherwise: $LOG"
fi
echo "# unlisted: $(grep 'card must not' <<<"$LOG")"

finish
