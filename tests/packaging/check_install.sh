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
        recommends=$(dpkg-deb -f "$deb" Recommends)
        grep -qw "gnome-shell-extension-appindicator" <<<"$recommends" &&
            ok "recommends gnome-shell-extension-appindicator (a tray for GNOME Shell)" ||
            bad "recommends: $recommends"
    else
        bad "no package file"
    fi
else
    echo "# cpack, dpkg-deb or dpkg-shlibdeps missing: package not checked"
fi

echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
