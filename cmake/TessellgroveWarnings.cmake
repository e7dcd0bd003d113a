# GCC 12 reports false -Wrestrict errors from inside std::string at -O3
# (GCC bug 105329, fixed in 13), so the check is off for that compiler.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    set(TESSELLGROVE_GCC12_WORKAROUNDS -Wno-restrict)
endif()

# Per-target warning set. Applied to our own targets only, never globally,
# so third-party headers pulled in as SYSTEM stay quiet.
function(tessellgrove_set_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion
        -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough
        ${TESSELLGROVE_GCC12_WORKAROUNDS})
    if(TESSELLGROVE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Tests and benchmarks get the same warnings minus the ones that fight
# with GoogleTest's and Google Benchmark's macros.
function(tessellgrove_set_test_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow ${TESSELLGROVE_GCC12_WORKAROUNDS})
    if(TESSELLGROVE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
