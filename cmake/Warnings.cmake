# Warning flags for every target of the project.
function(fi_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
    if(FI_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
