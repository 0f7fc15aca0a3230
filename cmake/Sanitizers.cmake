# SANITIZER=address;undefined or SANITIZER=thread builds everything with the
# given sanitizers. Tests pick up the suppression files in tests/sanitizers.
set(SANITIZER "" CACHE STRING "Sanitizers to build with: address;undefined or thread")

# OLVEX_FUZZ builds everything for the fuzzing engine (clang only), under
# address;undefined as above; the fuzz targets in tests/fuzz then link it.
option(OLVEX_FUZZ "Build the fuzz targets with libFuzzer (clang)" OFF)

set(_olvex_sanitizer_list ${SANITIZER})
if(OLVEX_FUZZ)
    if(SANITIZER AND NOT SANITIZER STREQUAL "address;undefined")
        message(FATAL_ERROR "OLVEX_FUZZ builds with address;undefined, not SANITIZER=${SANITIZER}")
    endif()
    set(_olvex_sanitizer_list address undefined)
endif()

if(_olvex_sanitizer_list)
    string(REPLACE ";" "," _olvex_sanitizers "${_olvex_sanitizer_list}")
    message(STATUS "Building with -fsanitize=${_olvex_sanitizers}")
    add_compile_options(-fsanitize=${_olvex_sanitizers} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${_olvex_sanitizers})
    if("undefined" IN_LIST _olvex_sanitizer_list)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

if(OLVEX_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
