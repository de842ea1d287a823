# Installation (program, icons, desktop and autostart entries), uninstallation
# from the install manifest, and the Debian package.
include(GNUInstallDirs)

install(TARGETS fotoimport RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(FI_ICON_SIZES 16x16 22x22 32x32 48x48 64x64 128x128 256x256 scalable)
foreach(size ${FI_ICON_SIZES})
    fi_require_files(${PROJECT_SOURCE_DIR}/packaging/icons/hicolor ${size}/apps)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor/${size}/apps
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/fotoimport.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# XDG autostart: started with every desktop session of every user. Desktops
# look in /etc/xdg/autostart, so the system prefixes install there.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
    set(FI_AUTOSTART_DEFAULT /etc/xdg/autostart)
else()
    set(FI_AUTOSTART_DEFAULT ${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart)
endif()
set(FI_AUTOSTART_DIR ${FI_AUTOSTART_DEFAULT} CACHE PATH "Folder of the XDG autostart entry")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/fotoimport-autostart.desktop
    DESTINATION ${FI_AUTOSTART_DIR} RENAME fotoimport.desktop)

# `cmake --build build --target uninstall` removes what the last install wrote.
configure_file(${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake.in ${PROJECT_BINARY_DIR}/Uninstall.cmake @ONLY)
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${PROJECT_BINARY_DIR}/Uninstall.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fotoimport)
set(CPACK_PACKAGE_VENDOR "fotoimport")
set(CPACK_PACKAGE_CONTACT "fotoimport <fotoimport@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fotos von Kamera und Speicherkarte in Tagesordner übernehmen")
set(CPACK_PACKAGE_DESCRIPTION
    "Waits in the notification area for a camera or memory card with a DCIM folder, lists its JPEG photos "
    "and copies or moves them into one folder per shooting day, turning sideways photos upright.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt libraries come in through shlibdeps; the xcb platform plugin and the
# icon theme are loaded at run time and must be named.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, hicolor-icon-theme")
# GNOME Shell has no tray of its own: this extension gives it one. It is only
# suggested: apt installs recommendations, and this one pulls in GNOME Shell,
# gdm3 and an X server (about 500 packages) on a machine without GNOME.
# Elsewhere the program shows its window instead of an icon; README tells GNOME
# users how to get the extension.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
# Qt's Wayland platform plugin: without it the program runs through XWayland, where the window cannot be
# brought forward with the desktop's activation token. It brings Qt libraries only, no desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# The package's program carries no debug information and no symbol table.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
