#!/usr/bin/env bash
# Phones and cameras on a cable, as the desktop's gvfs presents them: one FUSE
# mount at $XDG_RUNTIME_DIR/gvfs (tests/support/faultfs.py, serving requests
# on threads as gvfs does) holds a phone whose photos are one level down, in
# "Interner gemeinsamer Speicher/DCIM", and on its SD card, a second storage
# with a DCIM of its own. The real program under Xvfb with the trayer tray host
# must find it, offer one storage after the other while the phone stays
# attached, naming the one shown, and real clicks on "Fotos kopieren" must copy
# the photos of both into their day folders.
#
# Then a camera appears whose folder never answers, as a locked phone or a
# stale mount does. While it hangs, the window must keep answering the tray
# icon and its menu within a bound and paint its contents, only one thread of
# the program may wait on the camera, the phone's unplugging must be seen, a
# card mounted under /media must open the window by itself, and "Beenden" must
# end the program at once. Everything is mounted in a private mount namespace;
# stops only what it started, by PID.
#
# Usage: devices.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: devices.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-devices
FAULTFS="$(cd "$(dirname "$0")/../support" && pwd)/faultfs.py"
BOUND_MS=1000 # the longest the window may take to answer a click or a key while the camera hangs

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool xwininfo cjpeg exiftool cmp
if [ ! -c /dev/fuse ] || ! /usr/bin/python3 -c 'import fusepy' 2>/dev/null; then
    echo "skipped: no FUSE (/dev/fuse and Debian's python3-fusepy are needed)"
    exit 77
fi

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
GVFS="$WORK/runtime/gvfs"
STORE="$WORK/gvfs-store"
HOLD="$WORK/camera-hangs"
LOG="$WORK/gvfs-requests"
FUSE_PID=""
e2e_extra_cleanup() {
    # The camera answers again, so that its server can end and be unmounted.
    rm -f "$HOLD"
    if [ -n "$FUSE_PID" ]; then
        kill "$FUSE_PID" 2>/dev/null
        wait "$FUSE_PID" 2>/dev/null
    fi
    mountpoint -q "$GVFS" && umount -l "$GVFS"
    mountpoint -q "$CARD" && umount "$CARD"
}

# --- gvfs's folder with the phone: DCIM one level down on two storages, a third storage without it
PHONE="$STORE/mtp:host=SAMSUNG_SAMSUNG_Android_R58M12ABCDE"
INTERNAL="$PHONE/Interner gemeinsamer Speicher"
make_photo "$INTERNAL/DCIM/Camera" IMG_20240601_101500.jpg "2024:06:01 10:15:00"
make_photo "$INTERNAL/DCIM/Camera" IMG_20240601_101600.jpg "2024:06:01 10:16:00" 6
make_photo "$INTERNAL/DCIM/Screenshots" Screenshot_20240602.jpg "2024:06:02 09:00:00"
make_photo "$INTERNAL/Pictures" not_a_camera_photo.jpg "2024:06:03 09:00:00"
SDCARD="$PHONE/SD-Karte"
make_photo "$SDCARD/DCIM/100ANDRO" DSC_0001.jpg "2024:06:05 08:00:00"
mkdir -p "$PHONE/Card/Music"
cp -a "$INTERNAL/DCIM" "$WORK/phone-original"
cp -a "$SDCARD/DCIM" "$WORK/sdcard-original"
CAMERA_NAME="gphoto2:host=Canon_Inc._Canon_Digital_Camera"
touch "$HOLD"
mkdir -p "$GVFS"
/usr/bin/python3 "$FAULTFS" "$STORE" "$GVFS" --ready "$WORK/gvfs.ready" --threads \
    --hang "/$CAMERA_NAME/DCIM" --hold "$HOLD" --log "$LOG" >"$WORK/faultfs.log" 2>&1 &
FUSE_PID=$!
wait_until 10000 test -e "$WORK/gvfs.ready" || { bad "the gvfs stand-in was not mounted"; finish; }
ok "gvfs stand-in mounted at \$XDG_RUNTIME_DIR/gvfs with a phone of 4 camera photos on two storages"

start_xvfb
start_trayer

# --- the phone is found and the photos of each storage copied, one storage after the other
T0=$(now_ms)
"$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
find_icon || bad "no tray icon"
TARGET="$HOME/Documents/Eigene Bilder"
OFFERED=()
for n in 1 2; do
    if wait_until 6000 is_visible "Hole Fotos: .+"; then
        WIN=$(visible_window "Hole Fotos: .+")
        OFFERED+=("$(xdotool getwindowname "$WIN")")
        ok "storage $n shown $(($(now_ms) - T0)) ms after it was offered: \"${OFFERED[-1]}\""
    else
        bad "storage $n of the phone was not offered"
        shot "devices_no_storage_$n"
        finish
    fi
    sleep 0.5
    shot "devices_${n}_storage_found" "$WIN"
    click_in "$WIN" 162 108 # Button2 "Fotos kopieren" at 112,96, 100x25
    if wait_until 30000 is_visible "$FINISHED"; then ok "transfer from storage $n ended"; else
        bad "the transfer from storage $n did not end"
    fi
    WIN=$(visible_window "$FINISHED")
    sleep 0.4
    shot "devices_${n}_storage_copied" "$WIN"
    # "Fenster Schliessen": the storage is handled while the phone stays attached; the next one is offered
    T0=$(now_ms)
    click_in "$WIN" 298 108 # Button1 at 248,96, 100x25
    wait_until 3000 is_hidden "$FINISHED" || bad "\"Fenster Schliessen\" did not hide the window"
done
[ "$(printf '%s\n' "${OFFERED[@]}" | sort | paste -sd'|')" = "Hole Fotos: Interner gemeinsamer Speicher|Hole Fotos: SD-Karte" ] &&
    ok "each storage was offered once, by its name" || bad "storages offered: ${OFFERED[*]}"
for f in 20240601/IMG_20240601_101500.jpg 20240601/IMG_20240601_101600.jpg 20240602/Screenshot_20240602.jpg \
    20240605/DSC_0001.jpg; do
    [ -s "$TARGET/$f" ] && ok "$f in its day folder" || bad "$f missing"
done
cmp -s "$WORK/phone-original/Camera/IMG_20240601_101500.jpg" "$TARGET/20240601/IMG_20240601_101500.jpg" &&
    cmp -s "$WORK/sdcard-original/100ANDRO/DSC_0001.jpg" "$TARGET/20240605/DSC_0001.jpg" &&
    ok "the upright photos of both storages are copied unchanged" || bad "an upright photo differs from the phone's"
[ -z "$(find "$TARGET" -name 'not_a_camera_photo.jpg')" ] && ok "photos outside DCIM are left alone" ||
    bad "a photo outside DCIM was copied"
diff -r "$WORK/phone-original" "$INTERNAL/DCIM" >/dev/null && diff -r "$WORK/sdcard-original" "$SDCARD/DCIM" >/dev/null &&
    ok "the phone keeps its photos" || bad "the phone changed in copy mode"
[ -z "$(find "$TARGET" "$STORE" -name '.fotoimport-*')" ] && ok "no temporary file left" || bad "temporary files left"
sleep 1.5
is_hidden "Hole Fotos.*" && ok "with both storages handled, nothing more is offered" ||
    bad "a storage was offered again while the phone stayed attached"

# --- a camera appears whose folder hangs
mkdir -p "$STORE/$CAMERA_NAME/DCIM/100CANON"
make_photo "$STORE/$CAMERA_NAME/DCIM/100CANON" IMG_0001.JPG "2024:06:04 12:00:00"
if wait_until 5000 grep -q "$CAMERA_NAME/DCIM" "$LOG"; then ok "the program looked into the camera, which hangs"; else
    bad "the program never looked at the camera"
fi
sleep 1.5 # a few ticks with the hung camera

# in_fuse TASK: the thread waits for a FUSE file system's answer (the kernel names where it sleeps)
in_fuse() { case "$(cat "$1/wchan" 2>/dev/null)" in *request_wait_answer* | *fuse*) return 0 ;; esac; return 1; }
# waiting_threads: how many of the program's threads wait for a FUSE file system's answer
waiting_threads() {
    local t n=0
    for t in /proc/"$APP_PID"/task/*; do in_fuse "$t" && n=$((n + 1)); done
    echo "$n"
}
# wchan_shown: the kernel tells where the program's threads sleep (some kernels hide it)
wchan_shown() { grep -qv '^0$' /proc/"$APP_PID"/task/*/wchan 2>/dev/null; }
gui_waits=0
max_ms=0
title=$(xdotool getwindowname "$(app_window "$FINISHED")" 2>/dev/null)
[ -n "$title" ] || title="$FINISHED"
for round in 1 2 3 4; do
    in_fuse /proc/"$APP_PID"/task/"$APP_PID" && gui_waits=$((gui_waits + 1))
    click_icon 1
    t0=$(now_ms)
    if wait_until 5000 is_visible "$title"; then
        ms=$(($(now_ms) - t0))
        ((ms > max_ms)) && max_ms=$ms
    else
        bad "round $round: the tray icon did not show the window while the camera hangs"
        continue
    fi
    WIN=$(visible_window "$title")
    sleep 0.4
    shot "devices_3_responsive_$round" "$WIN"
    menu_item 2 "$title"
    t0=$(now_ms)
    if wait_until 5000 is_hidden "$title"; then
        ms=$(($(now_ms) - t0))
        ((ms > max_ms)) && max_ms=$ms
    else
        bad "round $round: the tray menu did not hide the window while the camera hangs"
    fi
    sleep 0.3
done
if ((max_ms <= BOUND_MS)); then ok "the window answered the tray within $max_ms ms each time (bound $BOUND_MS ms)"; else
    bad "the window took $max_ms ms to answer the tray (bound $BOUND_MS ms)"
fi
# The window's own pixels: a painted window has its picture, texts and buttons, not one flat colour.
if [ -n "$CONVERT" ]; then
    colours=$("$CONVERT" "$SHOTS/devices_3_responsive_4_window.png" -format %k info: 2>/dev/null)
    if [ "${colours:-0}" -ge 50 ]; then ok "the window paints its contents ($colours colours)"; else
        bad "the window looks unpainted (${colours:-no} colours)"
    fi
fi
if wchan_shown; then
    [ "$gui_waits" -eq 0 ] && ok "the window's thread never waited on the camera" ||
        bad "the window's thread waited on the camera $gui_waits times"
    n=$(waiting_threads)
    [ "$n" -eq 1 ] && ok "one thread of the program waits on the camera" || bad "$n threads wait on the camera"
else
    echo "# this kernel does not show where threads wait: the threads waiting on the camera are not counted"
fi
n=$(grep -c "$CAMERA_NAME/DCIM" "$LOG")
[ "$n" -eq 1 ] && ok "the hung camera was asked once, not again at every tick" ||
    bad "the hung camera was asked $n times"

# --- the phone is unplugged, a card is mounted under /media: the window opens by itself for the card
mv "$PHONE" "$WORK/unplugged-phone"
make_photo "$WORK/card-stage/DCIM/100TEST" CARD_0001.JPG "2024:06:05 08:00:00"
make_photo "$WORK/card-stage/DCIM/100TEST" CARD_0002.JPG "2024:06:05 08:01:00"
sleep 1.5 # a tick sees no camera: the hung one is passed over
mount -t tmpfs -o size=16m fotoimport-card "$CARD" || { bad "cannot mount a tmpfs at $CARD"; finish; }
cp -a "$WORK/card-stage/DCIM" "$CARD/"
T0=$(now_ms)
if wait_until 4000 is_visible "Hole Fotos"; then ok "a card under /media is found while the camera hangs ($(($(now_ms) - T0)) ms)"; else
    bad "the card under /media went unnoticed while the camera hangs"
fi
WIN=$(visible_window "Hole Fotos")
sleep 0.5
shot devices_4_card_beside_hung_camera "$WIN"

# --- "Beenden" ends the program at once: its window and icon go, and so does its socket, so that it can
# be started again. A thread inside a request that the device's file system took and never answers cannot
# be ended by anyone, the kernel waits for that answer: the process entry goes when the camera answers.
# main_ended PID: the program's own thread has ended and left no window behind
main_ended() {
    local state
    state=$(awk '/^State:/{print $2}' /proc/"$1"/status 2>/dev/null)
    [ -z "$state" ] || [ "$state" = Z ] || return 1
    [ -z "$(xdotool search --pid "$1" 2>/dev/null)" ]
}
# threads_ended PID: nothing of the process runs any more
threads_ended() { [ ! -d /proc/"$1" ] || [ "$(ls /proc/"$1"/task | wc -l)" -le 1 -a "$(awk '/^State:/{print $2}' /proc/"$1"/status)" = Z ]; }
FIRST_PID=$APP_PID
T0=$(now_ms)
menu_item 3 "Hole Fotos"
if wait_until 5000 main_ended "$FIRST_PID"; then
    ok "\"Beenden\" ended the program in $(($(now_ms) - T0)) ms while the camera hangs: no window, no icon"
else
    bad "\"Beenden\" did not end the program while the camera hangs"
fi
"$APP" >"$WORK/app2.out" 2>"$WORK/app2.err" &
APP_PID=$!
PIDS+=($APP_PID)
find_icon && ok "the program starts again while the old process waits for the camera" ||
    bad "no new start while the old process waits for the camera"
rm -f "$HOLD"
if wait_until 5000 threads_ended "$FIRST_PID"; then ok "the old process is gone once the camera answers"; else
    bad "the old process is still there after the camera answered"
fi
wait "$FIRST_PID" 2>/dev/null
forget_pid "$FIRST_PID"
sleep 1
menu_item 3 "$(xdotool getwindowname "$(app_window 'Hole Fotos')" 2>/dev/null || echo 'Hole Fotos')"
if wait_until 5000 eval '! alive'; then
    wait "$APP_PID"
    rc=$?
    forget_pid "$APP_PID"
    [ "$rc" -eq 0 ] && ok "the new start ends with \"Beenden\" (exit code 0)" || bad "exit code $rc"
else
    bad "the new start did not end with \"Beenden\""
fi
finish
