# Targets are made from files named one by one. A name that does not exist is
# a configure error, so a misspelt or moved file never drops a target quietly.

# fi_require_files(<folder> <file>...): fails the configure step when a file is missing.
function(fi_require_files folder)
    foreach(f ${ARGN})
        if(NOT EXISTS ${folder}/${f})
            message(FATAL_ERROR "${folder}/${f} is named in the build but does not exist")
        endif()
    endforeach()
endfunction()

# One static library per area.
#   fi_add_area(<target> SOURCES <files> [QT] [DEPS <libs>] [PRIVATE_DEPS <libs>])
function(fi_add_area target)
    cmake_parse_arguments(A "QT" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    if(NOT A_SOURCES)
        message(FATAL_ERROR "${target}: no SOURCES given")
    endif()
    fi_require_files(${CMAKE_CURRENT_SOURCE_DIR} ${A_SOURCES})
    add_library(${target} STATIC ${A_SOURCES})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
    fi_warnings(${target})
    if(A_QT)
        set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
    endif()
endfunction()

# A command-line tool.
#   fi_add_tool(<name> SOURCES <files> LIBS <libs>)
function(fi_add_tool name)
    cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
    fi_require_files(${CMAKE_CURRENT_SOURCE_DIR} ${A_SOURCES})
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS})
    fi_warnings(${name})
endfunction()
