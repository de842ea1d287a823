#!/usr/bin/env bash
# The program is ended while photos wait to be turned, then the card is
# imported again by a fresh program, in copy and in move mode. The card (a
# tmpfs in a private mount namespace) holds 24 photos of 3000 x 2000 taken
# turned (orientation 6), so that turning them takes a while, longer than a
# screenshot on a loaded machine; a real click on
# "Fotos kopieren" starts the run, and once the first photos have arrived the
# program gets
# - SIGTERM, as at the end of a session: it ends in order, and the import log
#   accounts for what it left: copies turned, copies not turned, photos not
#   begun and what stays on the card;
# - SIGKILL: it is cut off at once, with temporaries of copies and turns left.
# No photo may be torn or lost meanwhile (a moved photo not yet turned stays
# on the card). The fresh program's run must leave every photo in its day
# folder exactly once (no NAME_1), turned upright (orientation 1, its size
# kept), no temporary file, and its log, its window title and the card's
# verdict must agree with the day folder: the copies the ended program did not
# turn are turned now and count as turned, the photos it turned count as there
# already.
# Stops only what it started, by PID.
#
# Usage: kill_turns.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: kill_turns.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-turns
PHOTOS=24

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo cjpeg djpeg exiftool cmp

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
mount_tmpfs "$CARD"
make_card "$WORK/original/100CANON" 1 $PHOTOS 3000 2000 2024:05:01 6
ok "card with $PHOTOS photos of 3000 x 2000 taken turned mounted at $CARD"
start_xvfb
start_trayer

# count STATE: how many photos of the day folder are in that state (photo_states)
count() { grep -c " $1\$" <<<"$STATES"; }
# on_card: the names of the photos on the card
on_card() { ls "$CARD/DCIM/100CANON" 2>/dev/null; }
# import SIGNAL MODE: in a home of its own, the card (as made) imported in MODE (copy or move) until the first
# photos have arrived, then the program gets SIGNAL; then the card as it is then imported again by a fresh
# program
import() {
    local signal=$1 mode=$2 case="$1-$2" t0 card turned missing left kept there files moved
    export HOME="$WORK/home-$case"
    mkdir -p "$HOME"
    rm -rf "$CARD/DCIM"
    cp -a "$WORK/original" "$CARD/DCIM"
    DAY="$HOME/Documents/Eigene Bilder/20240501"
    start_app "-$case"
    card_window 4000 || { bad "$case: no window \"Hole Fotos\""; finish; }
    [ "$mode" = copy ] || { sleep 0.3 && click_in "$WIN" 120 32; } # "Fotos kopieren und in Kamera löschen"
    copy_photos
    arrived() { [ "$(find "$DAY" -name 'IMG_*.JPG' 2>/dev/null | wc -l)" -ge 2 ]; }
    wait_until 20000 arrived || bad "$case: no photos arrived within 20 s"
    shot "kill_turns_${case}_1_before" "$WIN"
    t0=$(now_ms)
    kill "-$signal" "$APP_PID"
    if app_gone 10000; then ok "$case: the program ended $(($(now_ms) - t0)) ms after $signal (exit code $RC)"; else
        bad "$case: the program did not end within 10 s"
    fi
    STATES=$(photo_states "$DAY" "$WORK/original/100CANON")
    card=$(count card) turned=$(count turned) missing=$((PHOTOS - card - turned)) left=$(temporaries "$DAY" | wc -l)
    echo "# after $case: $turned turned, $card as on the card, $missing not there, $left temporaries, $(on_card | wc -l) on the card"
    # No photo lost: each is whole in the day folder or on the card.
    if ! grep -qv ' \(card\|turned\)$' <<<"$STATES" &&
        [ -z "$(comm -23 <(ls "$WORK/original/100CANON") <(sort -u <(on_card) <(ls "$DAY" 2>/dev/null)))" ]; then
        ok "$case: every photo is whole in the day folder or on the card"
    else
        bad "$case: a photo is torn or lost: $STATES; on the card: $(on_card | tr '\n' ' ')"
    fi
    # A photo moved and not turned stays on the card for the next import to turn its copy.
    [ "$mode" = copy ] || [ -z "$(grep ' card$' <<<"$STATES" | cut -d' ' -f1 | comm -23 - <(on_card))" ] &&
        ok "$case: every photo not turned is still on the card" || bad "$case: a photo left the card unturned: $STATES"
    ((turned < PHOTOS)) && ok "$case: the run was cut short" || bad "$case: the run had ended: nothing was tested"
    if [ "$signal" = TERM ]; then
        # What stays on the card are the photos not begun, if any: every copy is verified, turned or not.
        LOG=$(last_run_log)
        kept=0 files=$PHOTOS
        [ "$mode" = copy ] || kept=$card files=$((card + missing))
        local verdict="card may be formatted: every file below DCIM is in the target and verified"
        ((missing == 0)) || verdict="card must not be formatted: $missing of $files files stay on the card; not begun: $missing"
        ((kept == 0)) || verdict+="; stayed on the card (copies verified): $kept"
        [ "$left" -eq 0 ] && ok "$case: no temporary file left" || bad "$case: $left temporary files left"
        if [ "$(grep -c "run stopped as the program ends: $missing photos not begun, left on the card" <<<"$LOG")" -eq \
            $((missing > 0)) ] &&
            grep -q "run ended: $((card + turned)) transferred (0 renamed, $kept stayed on the card), $turned turned, $card not turned, 0 already there, 0 failed" <<<"$LOG" &&
            [ "$(grep -c 'not turned: .*: not turned: the program ended' <<<"$LOG")" -eq "$card" ] &&
            grep -q "$verdict" <<<"$LOG"; then
            ok "$case: the log accounts for $turned turned, $card not turned and $missing not begun, and the card's verdict"
        else
            bad "$case: the log does not agree with the day folder: $LOG"
        fi
    fi

    # --- the card as it is now, imported again by a fresh program in the same mode: the photos on the card
    # whose copy is turned already are there already, the others are transferred and turned
    there=$(grep ' turned$' <<<"$STATES" | cut -d' ' -f1 | comm -12 - <(on_card) | wc -l)
    moved=$(($(on_card | wc -l) - there))
    start_app "-$case-again"
    card_window 4000 || { bad "$case: no window for the card the second time"; finish; }
    [ "$mode" = copy ] || { sleep 0.3 && click_in "$WIN" 120 32; }
    copy_photos
    run_ended 60000 || bad "$case: the second run did not end within 60 s"
    sleep 0.4
    shot "kill_turns_${case}_2_again" "$WIN"
    kill -TERM "$APP_PID"
    app_gone 5000 || bad "$case: the second program did not end"
    STATES=$(photo_states "$DAY" "$WORK/original/100CANON")
    if [ "$(count turned)" -eq $PHOTOS ] && [ "$(ls -A "$DAY" | wc -l)" -eq $PHOTOS ]; then
        ok "$case, again: the $PHOTOS photos are in the day folder once each, all turned upright, nothing else"
    else
        bad "$case, again: the day folder holds $(ls -A "$DAY" | tr '\n' ' '): $STATES"
    fi
    [ "$(on_card | wc -l)" -eq "$([ "$mode" = copy ] && echo $PHOTOS || echo "$there")" ] &&
        ok "$case, again: $(on_card | wc -l) photos on the card, as the mode and the photos there already say" ||
        bad "$case, again: the card holds $(on_card | tr '\n' ' ')"
    LOG=$(last_run_log)
    if grep -q "run ended: $moved transferred (0 renamed, 0 stayed on the card), $moved turned, 0 not turned, $there already there, 0 failed" <<<"$LOG" &&
        grep -q 'card may be formatted: every file below DCIM is in the target and verified' <<<"$LOG" &&
        [ "$TITLE" = "Karte kann formatiert werden" ]; then
        ok "$case, again: log and title agree: $moved transferred and turned, $there there already, the card may be formatted"
    else
        bad "$case, again: log or title (\"$TITLE\") disagree with the day folder: $LOG"
    fi
    if ((left > 0)); then
        grep -q "removed $left left-over temporary files of an interrupted run in $DAY" <<<"$LOG" &&
            ok "$case, again: the $left temporaries the ended program left were removed" ||
            bad "$case, again: the log does not tell the removal of $left temporaries: $LOG"
    fi
}
import TERM copy
import KILL copy
import TERM move
import KILL move

finish
