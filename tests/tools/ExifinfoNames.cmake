# Runs exifinfo on one photo under a plain name and under a name outside every
# Windows code page, and fails unless both read alike: the same lines apart
# from the name line, which must show the name as its UTF-8 bytes.
#   cmake -DEXIFINFO=<program> -DPHOTO=<photo with EXIF> -DWORK=<folder>
#         [-DRUNNER=<command|argument|...>] [-DPREFIX=<how the program sees the build machine's root>]
#         -P ExifinfoNames.cmake
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" runner "${RUNNER}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

set(outputs "")
foreach(name "IMG_0042.jpg" "Ürlaub_日本_фото.jpg")
    file(COPY_FILE "${PHOTO}" "${WORK}/${name}")
    execute_process(COMMAND ${runner} "${EXIFINFO}" "${PREFIX}${WORK}/${name}"
        OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE code)
    string(REPLACE "\r\n" "\n" out "${out}")
    message(STATUS "exifinfo ${name}:\n${out}")
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "exifinfo ${name} ended with ${code}: ${err}")
    endif()
    string(FIND "${out}" "\n" end)
    string(SUBSTRING "${out}" 0 ${end} first)
    string(SUBSTRING "${out}" ${end} -1 rest)
    if(NOT first STREQUAL "== ${name}")
        message(FATAL_ERROR "exifinfo names the photo '${first}' instead of '== ${name}'")
    endif()
    # The photo's Exif data was read, not an error about its name.
    if(NOT rest MATCHES "\nDateTimeOriginal=[^\n]+\n" OR NOT rest MATCHES "\nresult=true\n$")
        message(FATAL_ERROR "exifinfo did not read the Exif data of ${name}")
    endif()
    list(APPEND outputs "${rest}")
endforeach()
list(GET outputs 0 plain)
list(GET outputs 1 unicode)
if(NOT plain STREQUAL unicode)
    message(FATAL_ERROR "the photo reads differently under its second name")
endif()
file(REMOVE_RECURSE "${WORK}")
