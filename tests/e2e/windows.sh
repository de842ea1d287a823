#!/usr/bin/env bash
# The Windows program under Wine, as a person uses it: Xvfb with openbox and
# the tint2 tray (which Wine docks its icons into reliably), a fresh Wine
# prefix whose documents folder is the scratch home's, and the real
# fotoimport.exe. It starts into the tray; a card appearing as drive G: opens
# its window "Hole Fotos"; a real click on "Fotos kopieren" brings the photos
# into Documents\Eigene Bilder\YYYYMMDD, the sideways one turned upright with
# the same bytes as the Linux build gives; then the tray icon's click and
# menu, "Fenster Schliessen", a second start and "Beenden". windriver.exe reads
# the texts of the window's controls, which X does not see.
# Stops only what it started, by PID.
#
# Usage: windows.sh FOTOIMPORT.EXE WINDRIVER.EXE LINUX-TOOLS [SHOTS-DIR]
#   LINUX-TOOLS: the Linux build's tools folder (orient-render), for the
#   bytes a Linux import gives.
set -u
APP=${1:?usage: windows.sh FOTOIMPORT.EXE WINDRIVER.EXE LINUX-TOOLS [SHOTS-DIR]}
DRIVER=${2:?}
LINUX_TOOLS=${3:?}
SHOTS=${4:-$(mktemp -d /tmp/fotoimport-shots.XXXXXX)}

. "$(dirname "$0")/lib/common.bash"
require_tools Xvfb openbox tint2 xdotool xwininfo wine wineboot wineserver cjpeg djpeg exiftool cmp
if [ ! -x "$LINUX_TOOLS/orient-render" ]; then
    echo "skipped: no Linux build of orient-render in $LINUX_TOOLS (make build)"
    exit 77
fi

e2e_init "$SHOTS"
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
e2e_extra_cleanup() { wineserver -k 2>/dev/null; }

# --- the card: three photos, one of them taken turned (orientation 6), in a folder that becomes G:
CARD="$WORK/card"
mkdir -p "$CARD/DCIM/100CANON"
make_photo "$CARD/DCIM/100CANON" IMG_0001.JPG "2005:07:14 10:22:33"
make_photo "$CARD/DCIM/100CANON" IMG_0002.JPG "2005:07:14 10:23:00" 6
make_photo "$CARD/DCIM/100CANON" IMG_0003.JPG "2006:01:02 08:00:00"
cp -a "$CARD/DCIM" "$WORK/original"
# The bytes of the turned photo as the Linux build makes them.
cp "$CARD/DCIM/100CANON/IMG_0002.JPG" "$WORK/linux_turned.jpg"
if "$LINUX_TOOLS/orient-render" 6 "$WORK/linux_turned.jpg"; then ok "the Linux build turned the sideways photo"; else
    bad "the Linux build could not turn the sideways photo"
    finish
fi

# --- the desktop, and a fresh prefix whose documents folder is the home's "Dokumente"
start_xvfb
start_openbox
tint2 -c "$(dirname "$0")/lib/tint2rc" >"$WORK/tint2.log" 2>&1 &
PIDS+=($!)
wait_until 5000 xdotool search --name '^tint2$' >/dev/null || bad "the tint2 panel did not appear"
mkdir -p "$HOME/.config" "$HOME/Dokumente"
echo 'XDG_DOCUMENTS_DIR="$HOME/Dokumente"' >"$HOME/.config/user-dirs.dirs"
T0=$(now_ms)
if wineboot --init >"$WORK/wineboot.log" 2>&1 && wineserver --wait; then
    ok "a fresh Wine prefix in $(($(now_ms) - T0)) ms"
else
    bad "wineboot failed: $(tail -n 5 "$WORK/wineboot.log")"
    finish
fi
TARGET="$HOME/Dokumente/Eigene Bilder"

# driver: windriver.exe in the program's prefix; state NAME: one value of its state
driver() { wine "$DRIVER" "$@" 2>/dev/null | tr -d '\r'; }
state() { driver state | sed -n "s/^$1=//p"; }
shown_is() { [ "$(state Visible)" = "$1" ]; }
# tray_icon: the window Wine docked into tint2 (a child of the panel); sets ICON_X, ICON_Y
tray_icon() {
    local panel icon geometry
    panel=$(xdotool search --name '^tint2$' 2>/dev/null | head -n1)
    icon=$(xwininfo -children -id "$panel" 2>/dev/null | awk '/^ +0x/{print $1}' | head -n1)
    [ -n "$icon" ] || return 1
    geometry=$(xdotool getwindowgeometry --shell "$icon" 2>/dev/null) && [ -n "$geometry" ] || return 1
    eval "$geometry"
    ICON_X=$((X + WIDTH / 2))
    ICON_Y=$((Y + HEIGHT / 2))
}

# --- the program starts into the tray: the icon docked, the window hidden
wine "$APP" >"$WORK/app.out" 2>"$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
if wait_until 20000 tray_icon; then ok "the icon is docked in the tray at $ICON_X,$ICON_Y"; else
    bad "no icon in the tray"
fi
sleep 1.5
if [ "$(state Visible)" = 0 ] && [ -z "$(visible_window 'Warte auf Kamera')" ]; then
    ok "the window stays hidden at start"
else
    bad "the window shows at start"
fi
shot win_1_tray

# --- a card appears as drive G: (Wine polls its drive links; the watcher asks once a second)
ln -s "$CARD" "$WINEPREFIX/dosdevices/g:"
T0=$(now_ms)
if WIN=$(wait_window "Hole Fotos" 5000); then
    ok "window \"Hole Fotos\" open $(($(now_ms) - T0)) ms after the card appeared as G:"
else
    bad "no window \"Hole Fotos\" within 5 s of the card"
    shot win_no_window
    finish
fi
sleep 0.5
shot win_2_found "$WIN"
if [ "$(state Label1)" = "3 Fotos gefunden" ] && [ "$(state Button2.Enabled)" = 1 ]; then
    ok "Label1 says \"3 Fotos gefunden\" and \"Fotos kopieren\" can be pressed"
else
    bad "the window's state: $(driver state | tr '\n' ' ')"
fi

# --- "Fotos kopieren": Button2 at 112,96, 100x25 in the window's client area
click_in "$WIN" 162 108
if WIN=$(wait_window "$FINISHED" 30000); then
    ok "the run ended: \"$(xdotool getwindowname "$WIN")\""
else
    bad "the run did not end within 30 s"
fi
sleep 0.5
shot win_3_finished "$WIN"
[ "$(state Label1)" = "Übertragung beendet" ] && ok "Label1 says \"Übertragung beendet\"" ||
    bad "Label1 says \"$(state Label1)\""

for f in 20050714/IMG_0001.JPG 20050714/IMG_0002.JPG 20060102/IMG_0003.JPG; do
    if [ -f "$TARGET/$f" ] && djpeg "$TARGET/$f" >/dev/null 2>&1; then ok "$f is a JPEG in Dokumente/Eigene Bilder"; else
        bad "$f missing or not a JPEG in $TARGET"
    fi
done
cmp -s "$WORK/original/100CANON/IMG_0001.JPG" "$TARGET/20050714/IMG_0001.JPG" &&
    ok "IMG_0001.JPG copied unchanged" || bad "IMG_0001.JPG differs from the card"
if cmp -s "$WORK/linux_turned.jpg" "$TARGET/20050714/IMG_0002.JPG"; then
    ok "the sideways photo is turned upright with the same bytes as the Linux build gives"
else
    bad "the turned photo differs from the Linux build's"
fi
if [ "$(djpeg -pnm "$TARGET/20050714/IMG_0002.JPG" | head -c 15 | sed -n 2p)" = "320 240" ] &&
    [ "$(exiftool -s -s -s -n -Orientation "$TARGET/20050714/IMG_0002.JPG")" = 1 ]; then
    ok "the turned photo keeps its 320x240 frame and reads orientation 1"
else
    bad "the turned photo's frame or orientation is wrong"
fi
diff -r "$WORK/original" "$CARD/DCIM" >/dev/null && ok "the card still holds every photo" ||
    bad "the card changed in copy mode"
LOG=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Local/fotoimport/import.log' | head -n1)
if [ -n "$LOG" ] && grep -q "run ended: 3 transferred (0 renamed, 0 stayed on the card), 1 turned" "$LOG"; then
    ok "the import log in the local application data folder has the run's counts"
else
    bad "no import log with the run's counts: ${LOG:-none}"
fi

# --- "Fenster Schliessen" hides the window into the tray
click_in "$WIN" 298 108
if wait_until 3000 is_hidden "$FINISHED" && [ "$(state Visible)" = 0 ]; then ok "\"Fenster Schliessen\" hides the window"; else
    bad "the window still shows after \"Fenster Schliessen\""
fi
[ "$(state Label1)" = "Warte auf Fotos..." ] && ok "Label1 says \"Warte auf Fotos...\"" ||
    bad "Label1 says \"$(state Label1)\" after \"Fenster Schliessen\""

# --- a left click on the tray icon opens the window; the menu's "Fenster schliessen" hides it
tray_icon && move_to "$ICON_X" "$ICON_Y" && sleep 0.2 && xdotool click 1
if WIN=$(wait_window "Hole Fotos|Warte auf Kamera|$FINISHED" 3000); then
    ok "a click on the tray icon opens the window"
else
    bad "a click on the tray icon showed no window"
fi
# tray_menu KEYS...: opens the icon's menu with the right button and chooses by keys
tray_menu() {
    tray_icon && move_to "$ICON_X" "$ICON_Y" && sleep 0.2 && xdotool click 3
    sleep 0.8
    shot "win_menu_$1"
    shift
    xdotool key "$@"
}
tray_menu 1 Down Down Return
if wait_until 3000 shown_is 0; then ok "\"Fenster schliessen\" in the tray menu hides the window"; else
    bad "the window still shows after the menu's \"Fenster schliessen\""
fi

# --- a second start brings the running program's window forward and ends itself
T0=$(now_ms)
timeout 30 wine "$APP" >"$WORK/app2.out" 2>&1
rc=$?
if [ $rc -eq 0 ] && wait_until 3000 shown_is 1; then
    ok "a second start ended ($(($(now_ms) - T0)) ms) and brought the running program's window forward"
else
    bad "second start: exit status $rc, window visible: $(state Visible)"
fi
if alive; then ok "the first program runs on"; else bad "the first program ended at the second start"; fi
shot win_4_second_start

# --- "Beenden" in the tray menu ends the program and takes the icon away
tray_menu 2 Up Return
if wait_until 5000 bash -c "! kill -0 $APP_PID 2>/dev/null"; then ok "\"Beenden\" ends the program"; else
    bad "the program still runs after \"Beenden\""
fi
wait "$APP_PID" 2>/dev/null
forget_pid "$APP_PID"
sleep 0.5
if ! tray_icon; then ok "the icon left the tray"; else bad "an icon stays in the tray"; fi
shot win_5_ended

finish
