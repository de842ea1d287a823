#!/usr/bin/env bash
# The program answers --help and --version on the terminal and ends, with no
# display and no window system (nothing to connect to: no DISPLAY, no
# WAYLAND_DISPLAY, no platform plugin asked for); the help names the folder the
# photos go to and the log, as the platform gives them for this home folder.
# An unknown option is named on standard error and ends with status 2.
#
# Usage: terminal_answers.sh FOTOIMPORT VERSION
set -u
APP=${1:?usage: terminal_answers.sh FOTOIMPORT VERSION}
VERSION=${2:?usage: terminal_answers.sh FOTOIMPORT VERSION}
WORK=$(mktemp -d /tmp/fotoimport-terminal.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/home/.config"
printf 'XDG_DOCUMENTS_DIR="$HOME/Dokumente"\n' >"$WORK/home/.config/user-dirs.dirs"

PASS=0
FAIL=0
ok() { PASS=$((PASS + 1)); echo "ok   - $*"; }
bad() { FAIL=$((FAIL + 1)); echo "FAIL - $*"; }
# run ARG...: the program in an environment without any display; OUT, ERR, RC
run() {
    env -i HOME="$WORK/home" PATH=/usr/bin:/bin timeout 10 "$APP" "$@" >"$WORK/out" 2>"$WORK/err"
    RC=$?
    OUT=$(cat "$WORK/out")
    ERR=$(cat "$WORK/err")
}

for help in --help -h; do
    run "$help"
    [ "$RC" -eq 0 ] && ok "$help ends with status 0" || bad "$help: status $RC, stderr: $ERR"
    grep -q '^Usage: fotoimport' <<<"$OUT" && ok "$help shows the usage" || bad "$help: $OUT"
    grep -qF "Photos go to:  $WORK/home/Dokumente/Eigene Bilder," <<<"$OUT" &&
        ok "$help names the documents folder the photos go to" || bad "$help: no photos folder in: $OUT"
    grep -qF "Import log:    $WORK/home/.local/state/fotoimport/import.log" <<<"$OUT" &&
        ok "$help names the log" || bad "$help: no log in: $OUT"
    [ -z "$ERR" ] && ok "$help writes nothing to standard error" || bad "$help: stderr: $ERR"
done
[ ! -e "$WORK/home/Dokumente" ] && [ ! -e "$WORK/home/.local" ] && ok "asking for the help makes no folder" ||
    bad "the help made folders: $(find "$WORK/home" -mindepth 1)"

run --version
[ "$RC" -eq 0 ] && [ "$OUT" = "fotoimport $VERSION" ] && ok "--version: $OUT" || bad "--version: status $RC, '$OUT' $ERR"

run --bogus /media/card
[ "$RC" -eq 2 ] && ok "an unknown option ends with status 2" || bad "--bogus: status $RC"
grep -qF "unknown option '--bogus'" <<<"$ERR" && [ -z "$OUT" ] && ok "and is named on standard error" ||
    bad "--bogus: stdout '$OUT', stderr '$ERR'"

echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
