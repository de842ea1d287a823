#!/usr/bin/env bash
# The tray seam next to the Windows headers, checked with the MinGW compiler:
# 1. windows_probe.cpp compiles with <windows.h> before and after the tray
#    headers, and its static assertions find the shell's own numbers;
# 2. no identifier of the tray headers is a macro of <windows.h> (such a name
#    compiles, but is silently renamed, for instance LoadIcon to LoadIconW, so
#    one program would hold two spellings of it).
# Qt's headers come in as system headers: the Linux Qt headers give
# dllimport warnings under MinGW that are not ours.
#
# Usage: tests/tray/windows_probe.sh [COMPILER]   (from anywhere)
set -u
CXX=${1:-x86_64-w64-mingw32-g++}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)

if ! command -v "$CXX" >/dev/null || ! command -v pkg-config >/dev/null ||
    ! pkg-config --exists Qt6Widgets; then
    echo "skipped: needs $CXX, pkg-config and the Qt 6 Widgets headers"
    exit 77
fi

qt_flags=()
for flag in $(pkg-config --cflags Qt6Widgets); do
    case $flag in
    -I*) qt_flags+=(-isystem "${flag#-I}") ;;
    *) qt_flags+=("$flag") ;;
    esac
done

status=0
for order in "" -DFI_TRAY_HEADERS_FIRST; do
    if ! "$CXX" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror $order \
        -I"$ROOT" "${qt_flags[@]}" "$ROOT/tests/tray/windows_probe.cpp"; then
        echo "FAIL: the tray seam does not compile next to <windows.h> ${order:+($order)}"
        status=1
    fi
done

macros=$(mktemp)
names=$(mktemp)
trap 'rm -f "$macros" "$names"' EXIT
echo '#include <windows.h>' | "$CXX" -x c++ -std=c++20 -dM -E - | awk '{ sub(/\(.*/, "", $2); print $2 }' |
    sort -u >"$macros"
# Comments removed, macros not expanded: the identifiers as written.
for header in "$ROOT"/tray/*.h; do
    "$CXX" -x c++ -fpreprocessed -dD -E "$header" 2>/dev/null
done | grep -v '^#' | grep -oE '\b[A-Za-z_][A-Za-z0-9_]*\b' | sort -u >"$names"
clashes=$(comm -12 "$macros" "$names")
if [ -n "$clashes" ]; then
    echo "FAIL: tray header names that <windows.h> defines as macros: ${clashes//$'\n'/ }"
    status=1
fi

[ $status -eq 0 ] && echo "tray seam compiles next to <windows.h>; no name is a Windows macro"
exit $status
