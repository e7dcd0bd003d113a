# Per-target warning set. Applied to our own targets only, never globally,
# so third-party headers pulled in as SYSTEM stay quiet.
function(tessellgrove_set_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion
        -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough)
    if(TESSELLGROVE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Tests and benchmarks get the same warnings minus the ones that fight
# with GoogleTest's and Google Benchmark's macros.
function(tessellgrove_set_test_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
    if(TESSELLGROVE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
