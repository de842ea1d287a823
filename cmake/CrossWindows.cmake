# The cross build for Windows (FI_PORTABLE_ONLY with cmake/mingw-w64.cmake).
# Debian has no libjpeg and no Qt for MinGW, so:
#  - JPEG::JPEG stands for the build machine's libjpeg headers and no library:
#    jpeg/ and app/core compile in full, and a Windows program that needs JPEG
#    decoding fails to link instead of pretending to work;
#  - the tray area is Qt-free and builds as it is; its tests compile its
#    headers next to <windows.h> (tests/tray/test_windows_headers.cpp);
#  - GoogleTest is built from Debian's sources with the cross compiler, and the
#    tests run under Wine (scripts/wine-run) with a prefix in the build folder.
if(NOT WIN32)
    message(FATAL_ERROR "FI_PORTABLE_ONLY is the cross build for Windows: configure with "
        "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake (make cross-windows)")
endif()

# Headers found on the build machine, never its libraries.
set(FI_HOST_MULTIARCH ${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu)

# libjpeg's four public headers, copied into the build folder: adding
# /usr/include itself would put the build machine's C library before MinGW's.
find_path(FI_HOST_JPEGLIB_DIR jpeglib.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(FI_HOST_JCONFIG_DIR jconfig.h PATHS /usr/include/${FI_HOST_MULTIARCH} /usr/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT FI_HOST_JPEGLIB_DIR OR NOT FI_HOST_JCONFIG_DIR)
    message(FATAL_ERROR "the cross build needs the host's libjpeg headers (libjpeg62-turbo-dev)")
endif()
set(FI_HOST_JPEG_INCLUDE ${CMAKE_BINARY_DIR}/host-jpeg)
foreach(header jpeglib.h jmorecfg.h jerror.h)
    configure_file(${FI_HOST_JPEGLIB_DIR}/${header} ${FI_HOST_JPEG_INCLUDE}/${header} COPYONLY)
endforeach()
configure_file(${FI_HOST_JCONFIG_DIR}/jconfig.h ${FI_HOST_JPEG_INCLUDE}/jconfig.h COPYONLY)
add_library(JPEG::JPEG INTERFACE IMPORTED)
set_target_properties(JPEG::JPEG PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${FI_HOST_JPEG_INCLUDE})

if(FI_TESTS)
    # GoogleTest from Debian's sources (package googletest), built by the cross compiler.
    set(FI_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    if(NOT EXISTS ${FI_GOOGLETEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "the cross build needs GoogleTest's sources in ${FI_GOOGLETEST_SOURCE} (googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${FI_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

    # ctest runs every Windows program (and gtest's test discovery) through Wine.
    find_program(FI_WINE wine)
    if(NOT FI_WINE)
        message(FATAL_ERROR "the cross build's tests run under Wine: install wine (scripts/install-deps)")
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR sh ${PROJECT_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR}/wine)
    # Under Wine the Unix root is the drive Z:, so the tests are given the
    # repository's and the build's folders that way.
    set(FI_TEST_PATH_PREFIX Z:)
endif()
