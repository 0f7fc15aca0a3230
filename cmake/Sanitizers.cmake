# SANITIZER=address;undefined or SANITIZER=thread builds everything with the
# given sanitizers. Tests pick up the suppression files in tests/sanitizers.
set(SANITIZER "" CACHE STRING "Sanitizers to build with: address;undefined or thread")

if(SANITIZER)
    string(REPLACE ";" "," _olvex_sanitizers "${SANITIZER}")
    message(STATUS "Building with -fsanitize=${_olvex_sanitizers}")
    add_compile_options(-fsanitize=${_olvex_sanitizers} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${_olvex_sanitizers})
    if("undefined" IN_LIST SANITIZER)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

# OLVEX_FUZZ builds everything for the fuzzing engine (clang only); the fuzz
# target in tests/fuzz then links it.
option(OLVEX_FUZZ "Build the fuzz target with libFuzzer (clang)" OFF)
if(OLVEX_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()
