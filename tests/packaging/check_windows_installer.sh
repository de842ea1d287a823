#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix of its own: a silent
# install (/S) puts the program into the user's programs folder, a Start menu
# entry and the user's Run key (and an entry in the list of installed
# programs); a silent uninstall takes every one of them away again.
#
# Usage: check_windows_installer.sh SETUP.EXE WORK
set -u
SETUP=${1:?usage: check_windows_installer.sh SETUP.EXE WORK}
WORK=${2:?}
for tool in wine wineboot wineserver; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
if [ ! -f "$SETUP" ]; then
    echo "FAIL - no installer $SETUP: build it with make package-windows"
    exit 1
fi
rm -rf "$WORK"
mkdir -p "$WORK/home"
export WINEPREFIX="$WORK/prefix" HOME="$WORK/home" WINEDEBUG=-all LC_ALL=C.UTF-8
# No Mono, no Gecko, and no menu entries of the desktop made from the Start menu's.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME
PASS=0 FAIL=0
ok() { PASS=$((PASS + 1)); echo "ok   - $*"; }
bad() { FAIL=$((FAIL + 1)); echo "FAIL - $*"; }
trap 'wineserver -k 2>/dev/null; rm -rf "$WORK"' EXIT

wineboot --init >"$WORK/wineboot.log" 2>&1 && wineserver --wait || { cat "$WORK/wineboot.log"; exit 1; }
USERDIR=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)
PROGRAMS="$USERDIR/AppData/Local/Programs/fotoimport"
LINK="$USERDIR/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Fotoimport.lnk"
RUN='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
UNINSTALL='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\fotoimport'
value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }

wine "$SETUP" /S
rc=$?
wineserver --wait
[ $rc -eq 0 ] && ok "the silent install ended with 0" || bad "the silent install ended with $rc"
[ -f "$PROGRAMS/fotoimport.exe" ] && ok "fotoimport.exe is in the user's programs folder" ||
    bad "no $PROGRAMS/fotoimport.exe"
[ -f "$PROGRAMS/uninstall.exe" ] && ok "the uninstaller is beside it" || bad "no uninstaller"
[ -f "$LINK" ] && ok "the Start menu has Fotoimport" || bad "no Start menu entry $LINK"
run=$(value "$RUN" fotoimport)
[[ "$run" == *'\Programs\fotoimport\fotoimport.exe"' ]] && ok "the Run key starts it at logon: $run" ||
    bad "the Run value is '$run'"
[[ "$(value "$UNINSTALL" QuietUninstallString)" == *'uninstall.exe" /S' ]] &&
    ok "the list of installed programs names its uninstaller" || bad "no entry in the list of installed programs"

# The uninstaller copies itself away and runs from there: wait for every process of the prefix.
wine "$PROGRAMS/uninstall.exe" /S
rc=$?
wineserver --wait
[ $rc -eq 0 ] && ok "the silent uninstall ended with 0" || bad "the silent uninstall ended with $rc"
[ ! -e "$PROGRAMS" ] && ok "the program's folder is gone" || bad "left behind: $(ls -A "$PROGRAMS" | tr '\n' ' ')"
[ ! -e "$LINK" ] && ok "the Start menu entry is gone" || bad "the Start menu entry stays"
[ -z "$(value "$RUN" fotoimport)" ] && ok "the Run value is gone" || bad "the Run value stays"
[ -z "$(value "$UNINSTALL" DisplayName)" ] && ok "the entry in the list of installed programs is gone" ||
    bad "the entry in the list of installed programs stays"
echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
