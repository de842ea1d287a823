#!/usr/bin/env bash
# Installs the build into a staging folder and checks what lands there, then
# builds the Debian package and checks its contents and dependencies.
#
# Usage: check_install.sh BUILD-DIR SCRATCH-DIR
set -u
BUILD=${1:?usage: check_install.sh BUILD-DIR SCRATCH-DIR}
SCRATCH=${2:?usage: check_install.sh BUILD-DIR SCRATCH-DIR}
rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"

PASS=0
FAIL=0
ok() { PASS=$((PASS + 1)); echo "ok   - $*"; }
bad() { FAIL=$((FAIL + 1)); echo "FAIL - $*"; }
check_file() { if [ -f "$1" ]; then ok "installed: ${1#"$2"}"; else bad "missing: ${1#"$2"}"; fi; }

# --- staged install under /usr
STAGE=$SCRATCH/stage
DESTDIR=$STAGE cmake --install "$BUILD" --prefix /usr >"$SCRATCH/install.log" 2>&1 || bad "cmake --install failed"
check_file "$STAGE/usr/bin/fotoimport" "$STAGE"
[ -x "$STAGE/usr/bin/fotoimport" ] && ok "the program is executable" || bad "the program is not executable"
check_file "$STAGE/usr/share/applications/fotoimport.desktop" "$STAGE"
check_file "$STAGE/etc/xdg/autostart/fotoimport.desktop" "$STAGE"
for size in 16x16 22x22 32x32 48x48 64x64 128x128 256x256; do
    check_file "$STAGE/usr/share/icons/hicolor/$size/apps/fotoimport.png" "$STAGE"
done
check_file "$STAGE/usr/share/icons/hicolor/scalable/apps/fotoimport.svg" "$STAGE"
if command -v desktop-file-validate >/dev/null; then
    if desktop-file-validate "$STAGE/usr/share/applications/fotoimport.desktop" \
        "$STAGE/etc/xdg/autostart/fotoimport.desktop"; then
        ok "desktop entries are valid"
    else
        bad "desktop entries do not validate"
    fi
fi
entry=$STAGE/usr/share/applications/fotoimport.desktop
grep -qx 'Categories=Graphics;Photography;' "$entry" && ok "categories Graphics;Photography;" || bad "categories"
grep -qx 'Exec=fotoimport %U' "$entry" && ok "the entry starts fotoimport with the volumes it is given" || bad "Exec line"
grep -qx 'Exec=fotoimport' "$STAGE/etc/xdg/autostart/fotoimport.desktop" && ok "autostart starts it without arguments" ||
    bad "autostart Exec line"
# Desktops offer the programs that take x-content/image-dcf when a volume with
# DCIM appears: the association as the desktop database records it.
if command -v update-desktop-database >/dev/null; then
    apps=$SCRATCH/applications
    mkdir -p "$apps"
    cp "$entry" "$apps/"
    update-desktop-database "$apps" 2>"$SCRATCH/update-desktop-database.log"
    if grep -qx 'x-content/image-dcf=fotoimport.desktop;' "$apps/mimeinfo.cache" 2>/dev/null; then
        ok "offered for cards with DCIM (x-content/image-dcf)"
    else
        bad "no x-content/image-dcf association: $(cat "$apps/mimeinfo.cache" 2>/dev/null)"
    fi
else
    bad "update-desktop-database is missing (desktop-file-utils)"
fi
grep -q '^Comment=.*[äöüÄÖÜß]\|^Comment=Fotos' "$entry" && ok "German comment" || bad "comment"

# --- uninstall removes exactly what was installed
DESTDIR=$STAGE cmake --build "$BUILD" --target uninstall >"$SCRATCH/uninstall.log" 2>&1 || bad "uninstall failed"
left=$(find "$STAGE" -type f | wc -l)
[ "$left" -eq 0 ] && ok "uninstall removes every installed file" || bad "$left files left after uninstall"

# --- the Debian package

# Packages that make a desktop: shells, window managers and compositors, display
# managers, X servers, session managers, and the tasks and meta packages of the
# desktop environments.
DESKTOP='^(gnome-shell.*|gnome-session.*|gdm3|mutter|xwayland|xserver-xorg.*|xorg|kde-.*|kwin-.*|plasma-.*|sddm'
DESKTOP+='|lightdm|xfce4-session|xfwm4|lxqt-session|lxsession|mate-session-manager|cinnamon.*|weston'
DESKTOP+='|task-.*desktop|.*-desktop-environment)$'
# simulate_install DEB [APT-OPTION...]: the packages "apt-get install DEB" would
# unpack, recommendations included as apt's default takes them, in INSTALLS
simulate_install() {
    local deb=$1 out
    shift
    out=$(apt-get install --simulate -o APT::Install-Recommends=true -o APT::Install-Suggests=false "$@" \
        "$(realpath "$deb")" 2>&1) || { bad "apt-get install --simulate failed: $(tail -n3 <<<"$out")"; return 1; }
    INSTALLS=$(awk '/^Inst /{print $2}' <<<"$out")
}
# check_no_desktop DEB: installing the package pulls in no desktop, neither on
# this machine (a Debian without one) nor on a machine with nothing installed,
# which bounds what any Debian would get whatever it has already
check_no_desktop() {
    if ! command -v apt-get >/dev/null; then
        echo "# apt-get missing: what the package pulls in is not checked"
        return
    fi
    if ! apt-cache show libqt6core6 >/dev/null 2>&1; then
        bad "apt knows no packages (apt-get update): what the package pulls in cannot be simulated"
        return
    fi
    local state desktop installed
    installed=$(dpkg-query -W -f='${Package} ${Status}\n' 2>/dev/null | awk '/ installed$/{print $1}' |
        grep -E "$DESKTOP" | xargs)
    [ -z "$installed" ] || echo "# this machine has a desktop already ($installed): the empty machine decides"
    for state in /var/lib/dpkg/status /dev/null; do
        simulate_install "$1" -o Dir::State::status="$state" || continue
        desktop=$(grep -E "$DESKTOP" <<<"$INSTALLS" | xargs)
        echo "# install on $([ "$state" = /dev/null ] && echo "an empty machine" || echo "this machine"):" \
            "$(grep -c . <<<"$INSTALLS") packages to unpack"
        [ -z "$desktop" ] && ok "installing it pulls in no desktop (package state $state)" ||
            bad "installing it pulls in a desktop (package state $state): $desktop"
    done
}
# check_stripped DEB: the packaged program has no symbol table and no debug
# information, and is small
check_stripped() {
    local unpacked=$SCRATCH/unpacked program sections size
    rm -rf "$unpacked"
    dpkg-deb -x "$1" "$unpacked"
    program=$unpacked/usr/bin/fotoimport
    if ! command -v readelf >/dev/null; then
        bad "readelf is missing (binutils): the program's stripping is not checked"
        return
    fi
    sections=$(readelf -S -W "$program" | grep -oE '\.(symtab|debug_[a-z_]+)' | sort -u | xargs)
    [ -z "$sections" ] && ok "the packaged program is stripped" || bad "the packaged program keeps $sections"
    size=$(stat -c %s "$program")
    echo "# the packaged program: $size bytes; the package: $(stat -c %s "$1") bytes"
    if [ -n "${FI_INSTRUMENTED:-}" ]; then
        echo "# a sanitizer's build: its size is not bounded"
    elif ((size <= 4 * 1024 * 1024)); then
        ok "the packaged program is at most 4 MiB"
    else
        bad "the packaged program has $size bytes"
    fi
}
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
    (cd "$SCRATCH" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$SCRATCH/package" >"$SCRATCH/cpack.log" 2>&1) \
        || { bad "cpack failed"; cat "$SCRATCH/cpack.log"; }
    deb=$(ls "$SCRATCH"/package/fotoimport_*.deb 2>/dev/null | head -n1)
    if [ -n "$deb" ]; then
        ok "package built: $(basename "$deb")"
        contents=$(dpkg-deb -c "$deb")
        for f in ./usr/bin/fotoimport ./usr/share/applications/fotoimport.desktop \
            ./etc/xdg/autostart/fotoimport.desktop ./usr/share/icons/hicolor/48x48/apps/fotoimport.png; do
            grep -q " $f\$" <<<"$contents" && ok "package holds $f" || bad "package lacks $f"
        done
        depends=$(dpkg-deb -f "$deb" Depends)
        echo "# Depends: $depends"
        for dep in libqt6widgets6 libqt6gui6 libqt6core6 libqt6network6 libjpeg62-turbo qt6-qpa-plugins; do
            grep -q "$dep" <<<"$depends" && ok "depends on $dep" || bad "no dependency on $dep"
        done
        # GNOME's tray extension is only suggested: apt installs what is recommended, and that one
        # brings GNOME Shell, gdm3 and an X server. Qt's Wayland plugin alone is recommended.
        recommends=$(dpkg-deb -f "$deb" Recommends)
        [ "$recommends" = qt6-wayland ] && ok "recommends only qt6-wayland (Qt's Wayland plugin)" ||
            bad "recommends: $recommends"
        grep -qw "gnome-shell-extension-appindicator" <<<"$(dpkg-deb -f "$deb" Suggests)" &&
            ok "suggests gnome-shell-extension-appindicator (a tray for GNOME Shell)" ||
            bad "suggests: $(dpkg-deb -f "$deb" Suggests)"
        check_no_desktop "$deb"
        check_stripped "$deb"
    else
        bad "no package file"
    fi
else
    echo "# cpack, dpkg-deb or dpkg-shlibdeps missing: package not checked"
fi

echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
