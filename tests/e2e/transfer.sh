#!/usr/bin/env bash
# A card attached and its photos copied, as a person does it: a tmpfs mounted
# under /media holds DCIM with real JPEG photos, the real program runs under
# Xvfb with the trayer tray host, its window must appear within two seconds,
# and a real click on "Fotos kopieren" must put every photo into its day
# folder under "Eigene Bilder" in the documents folder. The mount lives in a
# private mount namespace, so nothing of it is seen outside this test.
# Stops only what it started, by PID.
#
# Usage: transfer.sh FOTOIMPORT [SHOTS-DIR]   (as root; skipped otherwise)
set -u
APP=${1:?usage: transfer.sh FOTOIMPORT [SHOTS-DIR]}
SHOTS=${2:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}
CARD=/media/fotoimport-e2e-card

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb trayer xdotool cjpeg djpeg exiftool exiv2 cmp

in_private_mounts "$0" "$APP" "$SHOTS" "$CARD"

e2e_init "$SHOTS"
e2e_extra_cleanup() { mountpoint -q "$CARD" && umount "$CARD"; }

# --- the card: four photos, one of them taken turned, two of them with one
# name in two folders (the camera's counter went round) on one day
if ! mount -t tmpfs -o size=32m fotoimport-card "$CARD"; then
    bad "cannot mount a tmpfs at $CARD"
    finish
fi
mkdir -p "$CARD/DCIM/100CANON" "$CARD/DCIM/101CANON"
make_photo() {                     # make_photo FOLDER/NAME DATE SHIFT [ORIENTATION]: a 320x240 gradient
    local ppm="$WORK/photo.ppm"
    {
        printf 'P6\n320 240\n255\n'
        awk -v s="$3" 'BEGIN { for (y = 0; y < 240; y++) for (x = 0; x < 320; x++)
                                   printf "%c%c%c", (x + s) % 256, y, (x + y) % 256 }'
    } >"$ppm"
    cjpeg -quality 90 "$ppm" >"$CARD/DCIM/$1"
    exiftool -q -overwrite_original -DateTimeOriginal="$2" ${4:+-Orientation#=$4} "$CARD/DCIM/$1"
}
LC_ALL=C make_photo 100CANON/IMG_0001.JPG "2005:07:14 10:22:33" 0
LC_ALL=C make_photo 100CANON/IMG_0002.JPG "2005:07:14 10:23:00" 0 6
LC_ALL=C make_photo 100CANON/IMG_0003.JPG "2006:01:02 08:00:00" 0
LC_ALL=C make_photo 101CANON/IMG_0001.JPG "2005:07:14 11:40:00" 90
# The turned photo carries a colour profile and XMP (its orientation, a
# keyword) as phones write them: a small RGB display profile made here.
/usr/bin/python3 - "$WORK/photo.icc" <<'PY'
import struct, sys
def xyz(x, y, z):
    return b'XYZ ' + bytes(4) + struct.pack('>iii', x, y, z)
name = b'fotoimport e2e RGB\0'
desc = b'desc' + bytes(4) + struct.pack('>I', len(name)) + name + bytes(4 + 4 + 2 + 1 + 67)
cprt = b'text' + bytes(4) + b'No copyright, use freely\0'
curv = b'curv' + bytes(4) + struct.pack('>IH', 1, 0x0233)
tags = [(b'desc', desc), (b'cprt', cprt), (b'wtpt', xyz(0xF351, 0x10000, 0x116CC)),
        (b'rXYZ', xyz(0x6FA2, 0x38F5, 0x0390)), (b'gXYZ', xyz(0x6299, 0xB785, 0x18DA)),
        (b'bXYZ', xyz(0x24A0, 0x0F84, 0xB6CF)), (b'rTRC', curv), (b'gTRC', curv), (b'bTRC', curv)]
at = 128 + 4 + 12 * len(tags)
table, data = b'', b''
for sig, d in tags:
    table += sig + struct.pack('>II', at + len(data), len(d))
    data += d + bytes(-len(d) % 4)
header = struct.pack('>III', at + len(data), 0, 0x02100000) + b'mntrRGB XYZ '
header += struct.pack('>6H', 2005, 7, 14, 10, 22, 33) + b'acsp'
header = header.ljust(64, b'\0') + struct.pack('>Iiii', 0, 0xF6D6, 0x10000, 0xD32D)
open(sys.argv[1], 'wb').write(header.ljust(128, b'\0') + struct.pack('>I', len(tags)) + table + data)
PY
exiftool -q -overwrite_original "-ICC_Profile<=$WORK/photo.icc" -XMP-tiff:Orientation#=6 -XMP-dc:Subject=Urlaub \
    -ExifImageWidth=320 -ExifImageHeight=240 "$CARD/DCIM/100CANON/IMG_0002.JPG"
cp -a "$CARD/DCIM" "$WORK/original"
if [ "$(find "$CARD/DCIM" -type f | wc -l)" -eq 4 ]; then ok "card with 4 photos mounted at $CARD"; else
    bad "the card's photos could not be made"
    finish
fi

# --- the X server and the tray host
start_xvfb
start_trayer


# --- the program finds the card and opens its window by itself
T0=$(now_ms)
"$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
if WIN=$(wait_window "Hole Fotos" 2000); then
    ok "window \"Hole Fotos\" open $(($(now_ms) - T0)) ms after start"
else
    bad "no window \"Hole Fotos\" within 2 s"
    shot transfer_no_window
    finish
fi
sleep 0.5
shot transfer_1_found "$WIN"

# --- "Fotos kopieren": Button2 at 112,96, 100x25 in the window's client area
eval "$(xdotool getwindowgeometry --shell "$WIN")"
xdotool mousemove --sync $((X + 162)) $((Y + 108)) 2>/dev/null || xdotool mousemove $((X + 162)) $((Y + 108))
sleep 0.3
xdotool click 1
if WIN=$(wait_window "Karte kann formatiert werden" 30000); then
    ok "transfer ended, every photo verified in its day folder (caption \"Karte kann formatiert werden\")"
else
    bad "the transfer did not end within 30 s"
fi
sleep 0.5
shot transfer_2_finished "$WIN"

# --- the photos in their day folders; the card untouched in copy mode
TARGET="$HOME/Documents/Eigene Bilder"
for f in 20050714/IMG_0001.JPG 20050714/IMG_0001_1.JPG 20050714/IMG_0002.JPG 20060102/IMG_0003.JPG; do
    if [ -f "$TARGET/$f" ] && djpeg "$TARGET/$f" >/dev/null 2>&1; then ok "$f is a JPEG in its day folder"; else
        bad "$f missing or not a JPEG"
    fi
done
if cmp -s "$WORK/original/100CANON/IMG_0003.JPG" "$TARGET/20060102/IMG_0003.JPG"; then
    ok "IMG_0003.JPG copied unchanged"
else
    bad "IMG_0003.JPG differs from the card"
fi
# Both photos named IMG_0001.JPG arrive, one of them under the next free
# name; which one keeps the name is the card's listing order.
sums() { for f in "$@"; do md5sum <"$f"; done | sort; }
if [ "$(sums "$WORK/original/100CANON/IMG_0001.JPG" "$WORK/original/101CANON/IMG_0001.JPG")" = \
     "$(sums "$TARGET/20050714/IMG_0001.JPG" "$TARGET/20050714/IMG_0001_1.JPG")" ]; then
    ok "both photos named IMG_0001.JPG arrived unchanged (IMG_0001.JPG, IMG_0001_1.JPG)"
else
    bad "the two photos named IMG_0001.JPG did not both arrive unchanged"
fi
if diff -r "$WORK/original" "$CARD/DCIM" >/dev/null; then ok "the card still holds every photo"; else
    bad "the card changed in copy mode"
fi
# --- the photo taken turned (orientation 6) is saved upright, on black, with its metadata
TURNED="$TARGET/20050714/IMG_0002.JPG"
djpeg -pnm "$TURNED" >"$WORK/turned.ppm" 2>/dev/null
# pixel X Y: the red, green and blue values of the decoded turned photo
pixel() { /usr/bin/python3 - "$WORK/turned.ppm" "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end]); pos = end
pos += 1
width = int(fields[1]); x, y = int(sys.argv[2]), int(sys.argv[3])
print(*data[pos + (y * width + x) * 3:pos + (y * width + x) * 3 + 3])
PY
}
if [ "$(head -c 15 "$WORK/turned.ppm" | sed -n 2p)" = "320 240" ]; then ok "the turned photo keeps its 320x240 size"; else
    bad "the turned photo has another size"
fi
read -r r g b < <(pixel 10 120)
read -r cr cg cb < <(pixel 160 120)
if ((r + g + b < 30 && cr + cg + cb > 60)); then ok "picture turned upright between black bands"; else
    bad "no black bands beside the turned picture (edge $r,$g,$b; centre $cr,$cg,$cb)"
fi
meta=$(exiftool -s -s -s -n -Orientation -DateTimeOriginal "$TURNED" 2>&1)
if [ "$(echo "$meta" | head -n1)" = 1 ] && echo "$meta" | grep -qx "2005:07:14 10:23:00"; then
    ok "the turned photo reads orientation 1 and keeps its date"
else
    bad "metadata of the turned photo: $meta"
fi
exiftool -b -ICC_Profile "$TURNED" >"$WORK/turned.icc" 2>/dev/null
if cmp -s "$WORK/photo.icc" "$WORK/turned.icc"; then ok "the turned photo keeps its colour profile"; else
    bad "the colour profile of the turned photo is lost or changed"
fi
xmp=$(exiftool -s -s -s -n -XMP-tiff:Orientation -XMP-dc:Subject "$TURNED" 2>&1 | tr '\n' ' ')
if [ "$xmp" = "1 Urlaub " ]; then ok "the turned photo's XMP reads orientation 1 and keeps its keyword"; else
    bad "XMP of the turned photo: $xmp"
fi
valid=$(exiftool -validate -warning -a -s -s -s "$TURNED" 2>&1 | tr '\n' ' ')
if [ "$valid" = "OK " ] && exiv2 -pa "$TURNED" 2>&1 >/dev/null | { ! grep -q .; }; then
    ok "exiftool and exiv2 read the turned photo without warnings"
else
    bad "readers warn about the turned photo: $valid"
fi

# --- the import log says what happened
LOG="$HOME/.local/state/fotoimport/import.log"
if grep -q "renamed: $CARD/DCIM/10[01]CANON/IMG_0001.JPG -> $TARGET/20050714/IMG_0001_1.JPG" "$LOG" 2>/dev/null &&
    grep -q "run ended: 4 transferred (1 renamed, 0 stayed on the card), 1 turned" "$LOG" &&
    grep -q "card may be formatted: every file below DCIM is in the target and verified" "$LOG"; then
    ok "the import log at ~/.local/state/fotoimport/import.log names the renamed photo, the counts and the verdict"
else
    bad "the import log lacks the renamed photo or the counts: $(cat "$LOG" 2>&1)"
fi

stray=$(find "$TARGET" -name '.fotoimport-*' | wc -l)
if [ "$stray" -eq 0 ]; then ok "no temporary file left"; else bad "$stray temporary files left"; fi
echo "# files: $(cd "$TARGET" && find . -type f | sort | tr '\n' ' ')"

finish
