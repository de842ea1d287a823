# Checks the Windows platform's sources (run from the repository root):
#   cmake -DCHECK=wide -P CheckWindowsSources.cmake
#     fails when a file below platform/windows/ or app/win/ calls the ANSI form of a Win32
#     function (CreateFileA, or CreateFile, which is the ANSI form without
#     UNICODE), opens a file through the narrow C runtime or a narrow stream,
#     or sizes a buffer by MAX_PATH: names travel as UTF-8 and reach the
#     system as UTF-16, without a length limit.
#   cmake -DCHECK=private -DFOLDERS=a,b -P CheckWindowsSources.cmake
#     fails when a file below the named folders, outside platform/windows/,
#     includes a header of platform/windows/.
# Text after "//" is a comment and does not count.
cmake_minimum_required(VERSION 3.25)

set(boundary "(^|[^A-Za-z0-9_])")
if(CHECK STREQUAL "wide")
    set(folders platform/windows app/win)
    set(generic "CreateFile|GetFileAttributes|GetFileAttributesEx|SetFileAttributes|FindFirstFile|FindFirstFileEx|FindNextFile|MoveFile|MoveFileEx|CopyFile|CopyFileEx|DeleteFile|ReplaceFile|CreateDirectory|RemoveDirectory|GetFullPathName|GetFinalPathNameByHandle|GetLongPathName|GetShortPathName|GetDiskFreeSpace|GetDiskFreeSpaceEx|GetDriveType|GetVolumeInformation|GetLogicalDriveStrings|GetTempPath|GetTempFileName|GetModuleFileName|GetCurrentDirectory|SetCurrentDirectory|GetEnvironmentVariable|ExpandEnvironmentStrings|FormatMessage|GetUserName|GetCommandLine|SHGetFolderPath|SHGetSpecialFolderPath|SHGetPathFromIDList|LoadLibrary|CreateProcess|OutputDebugString")
    set(crt "_sopen_s|_sopen|_open|open|fopen|fopen_s|_fsopen|freopen|creat|_creat|_stat|_stat32|_stat64|_stati64|stat|_access|_access_s|access|_unlink|unlink|remove|rename|_mkdir|mkdir|_rmdir|rmdir|_chdir|_chmod|_utime|_utime64|_findfirst|_findfirst64|_fullpath")
    set(patterns
        "${boundary}[A-Z][A-Za-z0-9_]*[a-z0-9]A[ \t]*\\("
        "${boundary}(WIN32_FIND_DATAA|LPSTR|LPCSTR)${boundary}"
        "${boundary}(${generic})[ \t]*\\("
        "${boundary}(${crt})[ \t]*\\("
        "${boundary}(std::)?(ifstream|ofstream|fstream)${boundary}"
        "${boundary}MAX_PATH${boundary}")
    set(what "call a narrow (ANSI) file or system function, or size a buffer by MAX_PATH")
elseif(CHECK STREQUAL "private")
    string(REPLACE "," ";" folders "${FOLDERS}")
    set(patterns "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*/)?windows/[^>\"/]+\\.h[>\"]")
    set(what "include a private header of platform/windows/")
else()
    message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()

set(offences "")
set(checked 0)
foreach(folder ${folders})
    if(NOT IS_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}/${folder}")
        message(FATAL_ERROR "${folder} is not a folder")
    endif()
    file(GLOB_RECURSE files RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}"
        "${folder}/*.cpp" "${folder}/*.h" "${folder}/*.c" "${folder}/*.hpp")
    foreach(file ${files})
        if(CHECK STREQUAL "private" AND file MATCHES "^platform/windows/")
            continue()
        endif()
        math(EXPR checked "${checked} + 1")
        foreach(pattern ${patterns})
            file(STRINGS "${file}" hits REGEX "${pattern}")
            foreach(hit ${hits})
                string(REGEX REPLACE "//.*$" "" code "${hit}")
                if(code MATCHES "${pattern}")
                    string(STRIP "${hit}" hit)
                    string(APPEND offences "  ${file}: ${hit}\n")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()

if(checked EQUAL 0)
    message(FATAL_ERROR "no source file found below ${folders}")
endif()
if(offences)
    message(FATAL_ERROR "These lines ${what}:\n${offences}")
endif()
message(STATUS "${checked} files checked; no line in them should ${what}, and none does")
