#!/usr/bin/env bash
# The Windows tools give the bytes the Linux build's tools give: the same
# photo decoded and encoded by jpegtool, turned upright in place by
# orient-render (the whole correction of an import) for each turning
# orientation, and read by exifinfo. Windows programs run under Wine.
# Skipped (77) when the Linux build's tools are not there.
#
# Usage: same_bytes_as_linux.sh LINUX-TOOLS WINE-RUN WINE-PREFIX JPEGTOOL.EXE ORIENT-RENDER.EXE EXIFINFO.EXE WORK
set -u
[ $# -eq 7 ] || { echo "usage: same_bytes_as_linux.sh LINUX-TOOLS WINE-RUN WINE-PREFIX JPEGTOOL.EXE ORIENT-RENDER.EXE EXIFINFO.EXE WORK" >&2; exit 2; }
LINUX=$1 WINE_RUN=$2 PREFIX=$3 JPEGTOOL=$4 ORIENT=$5 EXIFINFO=$6 WORK=$7
for tool in jpegtool orient-render exifinfo; do
    if [ ! -x "$LINUX/$tool" ]; then
        echo "skipped: no Linux build of $tool in $LINUX (make build)"
        exit 77
    fi
done
for tool in cjpeg exiftool cmp; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
rm -rf "$WORK"
mkdir -p "$WORK/linux" "$WORK/windows"
win() { sh "$WINE_RUN" "$PREFIX" "$@"; }
PASS=0 FAIL=0
same() { # same WHAT FILE: the two systems' FILE hold the same bytes
    if cmp -s "$WORK/linux/$2" "$WORK/windows/$2"; then PASS=$((PASS + 1)); echo "ok   - $1"; else
        FAIL=$((FAIL + 1)); echo "FAIL - $1: $2 differs"
    fi
}

# A 97x61 photo (odd sizes reach the codec's edge blocks) with its date and a sideways orientation.
{
    printf 'P6\n97 61\n255\n'
    LC_ALL=C awk 'BEGIN { srand(7); for (y = 0; y < 61; y++) for (x = 0; x < 97; x++)
                              printf "%c%c%c", (x * 5 + int(rand() * 16)) % 256, (y * 4) % 256, (x * y) % 256 }'
} >"$WORK/in.ppm"
cjpeg -quality 90 "$WORK/in.ppm" >"$WORK/photo.jpg"
exiftool -q -overwrite_original -DateTimeOriginal="2005:07:14 10:22:33" -Make=TestCam -Orientation#=6 "$WORK/photo.jpg"

for side in linux windows; do
    cp "$WORK/photo.jpg" "$WORK/in.ppm" "$WORK/$side/"
    for o in 3 6 8; do cp "$WORK/photo.jpg" "$WORK/$side/turned_$o.jpg"; done
done
(
    cd "$WORK/linux" || exit 1
    "$LINUX/jpegtool" decode photo.jpg decoded.ppm
    "$LINUX/jpegtool" encode in.ppm 80 encoded.jpg
    for o in 3 6 8; do "$LINUX/orient-render" "$o" "turned_$o.jpg"; done
    "$LINUX/exifinfo" photo.jpg turned_6.jpg >exif.txt
)
(
    # Wine starts the programs in the current folder, as Z:\...
    cd "$WORK/windows" || exit 1
    win "$JPEGTOOL" decode photo.jpg decoded.ppm
    win "$JPEGTOOL" encode in.ppm 80 encoded.jpg
    for o in 3 6 8; do win "$ORIENT" "$o" "turned_$o.jpg"; done
    win "$EXIFINFO" photo.jpg turned_6.jpg | tr -d '\r' >exif.txt
)
same "jpegtool decodes to the same pixels" decoded.ppm
same "jpegtool encodes to the same file" encoded.jpg
for o in 3 6 8; do same "orient-render turns orientation $o into the same file" "turned_$o.jpg"; done
same "exifinfo reads the same lines" exif.txt
if cmp -s "$WORK/photo.jpg" "$WORK/linux/turned_6.jpg"; then
    FAIL=$((FAIL + 1))
    echo "FAIL - the photo was not turned at all"
fi
echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
