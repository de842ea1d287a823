#!/usr/bin/env bash
# Photos copied onto file systems without hard links and without a rename
# that refuses to replace, as FAT, exFAT and NTFS through FUSE are: there each
# copy claims its name before it takes it. The documents folder is, in turn,
# - faultfs over FUSE with --no-links (it refuses links, and like every file
#   system of the high-level FUSE 2 library it has no no-replace rename), and
# - exFAT through exfat-fuse, on a loop device over an image file.
# Both in a private mount namespace. The real program copies a tmpfs card of
# five photos (one taken turned) with a real click on "Fotos kopieren": every
# photo must arrive whole (the turned one turned upright), nothing else may be
# left in the day folder (no temporary, no claim record, no empty claimed
# name), and the window's title and the import log must say so.
# Stops only what it started, by PID.
#
# Usage: linkless_target.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: linkless_target.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-linkless
EXFAT_FUSE=/sbin/mount.exfat-fuse

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo cjpeg djpeg exiftool cmp losetup /sbin/mkfs.exfat "$EXFAT_FUSE"
require_fuse
if [ ! -e /dev/loop-control ]; then
    echo "skipped: no loop devices (/dev/loop-control) for the exFAT image"
    exit 77
fi

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
mount_tmpfs "$CARD"
make_card "$CARD/DCIM/100CANON" 1 5 1200 900 2024:06:01
exiftool -q -overwrite_original -Orientation#=6 "$CARD/DCIM/100CANON/IMG_0002.JPG"
ok "card with 5 photos (one taken turned) mounted at $CARD"
start_xvfb
start_trayer

# refuses_links FOLDER: a hard link cannot be made there
refuses_links() {
    touch "$1/.probe" && ! ln "$1/.probe" "$1/.probe-link" 2>/dev/null
    local refused=$?
    rm -f "$1/.probe" "$1/.probe-link"
    return $refused
}
# import CASE: the card imported into a home of its own whose Documents folder is mounted already
import() {
    local case=$1 names states
    local day="$HOME/Documents/Eigene Bilder/20240601"
    refuses_links "$HOME/Documents" && ok "$case: the documents folder refuses hard links" ||
        bad "$case: the documents folder takes hard links: nothing is tested"
    start_app "-$case"
    card_window 4000 || { bad "$case: no window \"Hole Fotos\""; finish; }
    copy_photos
    if run_ended 30000; then ok "$case: the run ended, title \"$TITLE\""; else
        bad "$case: the run did not end within 30 s"
        TITLE=""
    fi
    sleep 0.4
    shot "linkless_target_$case" "$WIN"
    kill -TERM "$APP_PID"
    app_gone 5000 || bad "$case: the program did not end"
    names=$(ls -A "$day" 2>&1 | tr '\n' ' ')
    [ "$names" = "IMG_0001.JPG IMG_0002.JPG IMG_0003.JPG IMG_0004.JPG IMG_0005.JPG " ] &&
        ok "$case: the day folder holds the 5 photos and nothing else" || bad "$case: the day folder holds $names"
    states=$(photo_states "$day" "$CARD/DCIM/100CANON" | tr '\n' ' ')
    [ "$states" = "IMG_0001.JPG card IMG_0002.JPG turned IMG_0003.JPG card IMG_0004.JPG card IMG_0005.JPG card " ] &&
        ok "$case: every photo whole: 4 with the card's bytes, IMG_0002.JPG turned upright" ||
        bad "$case: not every photo is whole: $states"
    [ "$TITLE" = "Karte kann formatiert werden" ] && ok "$case: the title says the card may be formatted" ||
        bad "$case: title \"$TITLE\""
    LOG=$(last_run_log)
    if grep -q "run ended: 5 transferred (0 renamed, 0 stayed on the card), 1 turned, 0 not turned, 0 already there, 0 failed" <<<"$LOG" &&
        grep -q "card may be formatted" <<<"$LOG" && ! grep -q "failed:" <<<"$LOG"; then
        ok "$case: the log counts 5 photos transferred, 1 turned, none failed"
    else
        bad "$case: the log says otherwise: $LOG"
    fi
}

# --- faultfs refusing links
export HOME="$WORK/home-nolinks"
mkdir -p "$HOME/Documents"
start_faultfs "$WORK/nolinks-store" "$HOME/Documents" --no-links --log "$WORK/nolinks.requests"
import nolinks
# The copies took their names through claims: a link was tried and refused, then each name was created
# empty and the verified copy renamed over it.
links=$(grep -c '^link /Eigene Bilder/20240601/IMG_000[1-5].JPG$' "$WORK/nolinks.requests")
claims=$(grep -c '^create /Eigene Bilder/20240601/IMG_000[1-5].JPG$' "$WORK/nolinks.requests")
((links >= 5 && claims >= 5)) && ok "nolinks: the names were claimed ($links links refused, $claims names claimed)" ||
    bad "nolinks: the copies did not go through claims ($links links, $claims claims)"

# --- exFAT through exfat-fuse on a loop device
export HOME="$WORK/home-exfat"
mkdir -p "$HOME/Documents"
truncate -s 64M "$WORK/exfat.img"
/sbin/mkfs.exfat "$WORK/exfat.img" >"$WORK/mkfs.log" 2>&1 || { bad "mkfs.exfat failed: $(cat "$WORK/mkfs.log")"; finish; }
LOOP=$(losetup --find --show "$WORK/exfat.img") || { bad "no loop device for the exFAT image: $LOOP"; finish; }
# In the foreground (-d), so that it is stopped by PID; its debug output goes nowhere.
"$EXFAT_FUSE" -d "$LOOP" "$HOME/Documents" >/dev/null 2>&1 &
PIDS+=($!)
MOUNTS+=("$HOME/Documents")
mounted=$(wait_until 10000 mountpoint -q "$HOME/Documents" && echo yes)
losetup --detach "$LOOP" # the loop device goes when exfat-fuse lets go of it
[ -n "$mounted" ] || { bad "exfat-fuse did not mount $LOOP"; finish; }
ok "exFAT mounted through exfat-fuse ($(awk -v m="$HOME/Documents" '$2 == m {print $3}' /proc/mounts))"
import exfat

finish
