# The cross build for Windows (FI_PORTABLE_ONLY with cmake/mingw-w64.cmake): the
# Qt-free areas, the Win32 front end (app/win) and every test that is not
# Linux's alone. Debian has no libjpeg and no Qt for MinGW, so:
#  - libjpeg-turbo is built from Debian's source package of the version the
#    Linux build uses (scripts/build-windows-jpeg), once per version, into a
#    cache shared by every build folder; JPEG::JPEG is that static library,
#    and its reference tools cjpeg.exe and djpeg.exe serve the JPEG tests;
#  - the tray area is Qt-free and builds as it is; its tests compile its
#    headers next to <windows.h> (tests/tray/test_windows_headers.cpp);
#  - GoogleTest is built from Debian's sources with the cross compiler, and the
#    tests run under Wine (scripts/wine-run) with a prefix in the build folder.
if(NOT WIN32)
    message(FATAL_ERROR "FI_PORTABLE_ONLY is the cross build for Windows: configure with "
        "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake (make cross-windows)")
endif()

if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(FI_DEFAULT_DEPS_CACHE $ENV{XDG_CACHE_HOME}/fotoimport)
else()
    set(FI_DEFAULT_DEPS_CACHE $ENV{HOME}/.cache/fotoimport)
endif()
set(FI_DEPS_CACHE ${FI_DEFAULT_DEPS_CACHE} CACHE PATH "Where the Windows libjpeg-turbo is kept, one folder per version")
# Built at configure time: find_package(JPEG) cannot see it under the
# toolchain's root-path mode, so the imported target names its files itself.
execute_process(
    COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/build-windows-jpeg ${FI_DEPS_CACHE} ${CMAKE_TOOLCHAIN_FILE}
    OUTPUT_VARIABLE FI_WINDOWS_JPEG_OUTPUT RESULT_VARIABLE FI_WINDOWS_JPEG_RESULT)
if(NOT FI_WINDOWS_JPEG_RESULT EQUAL 0)
    message(FATAL_ERROR "libjpeg-turbo for Windows could not be built (scripts/build-windows-jpeg)")
endif()
string(STRIP "${FI_WINDOWS_JPEG_OUTPUT}" FI_WINDOWS_JPEG)
string(REGEX REPLACE ".*\n" "" FI_WINDOWS_JPEG "${FI_WINDOWS_JPEG}")
if(NOT EXISTS ${FI_WINDOWS_JPEG}/lib/libjpeg.a)
    message(FATAL_ERROR "no libjpeg.a in '${FI_WINDOWS_JPEG}'")
endif()
message(STATUS "libjpeg-turbo for Windows: ${FI_WINDOWS_JPEG}")
add_library(JPEG::JPEG STATIC IMPORTED)
set_target_properties(JPEG::JPEG PROPERTIES IMPORTED_LOCATION ${FI_WINDOWS_JPEG}/lib/libjpeg.a
    INTERFACE_INCLUDE_DIRECTORIES ${FI_WINDOWS_JPEG}/include)
# GCC 12 sees an overlap that is not there in std::string's inlined copies at -O3 (GCC bug 105651).
add_compile_options(-Wno-restrict)
# The reference encoder and decoder for the JPEG tests, as Windows programs.
set(FI_WINDOWS_JPEG_TOOLS ${FI_WINDOWS_JPEG}/bin)

# The installer that `make package-windows` builds (app/win/CMakeLists.txt).
set(FI_WINDOWS_SETUP ${CMAKE_BINARY_DIR}/fotoimport-${PROJECT_VERSION}-setup.exe)

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
    # The JPEG tests find the Windows builds of the reference tools cjpeg and djpeg on Wine's path.
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPATH=Z:${FI_WINDOWS_JPEG_TOOLS} sh ${PROJECT_SOURCE_DIR}/scripts/wine-run
        ${CMAKE_BINARY_DIR}/wine)
    # Under Wine the Unix root is the drive Z:, so the tests are given the
    # repository's and the build's folders that way.
    set(FI_TEST_PATH_PREFIX Z:)
endif()
