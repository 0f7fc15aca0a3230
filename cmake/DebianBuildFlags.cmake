# Release builds on Debian are hardened the way the distribution hardens its
# own packages: with what dpkg-buildflags gives when every hardening feature
# is asked for (stack protector, fortified libc functions, format checks,
# read-only relocations with immediate binding), and as position-independent
# executables. The optimisation and debug-information switches it also gives
# are left to the build type. Other build types (the sanitizer builds among
# them) are left as they are.
option(OLVEX_DEB_HARDENING "Release builds take dpkg-buildflags' hardening flags" ON)

if(OLVEX_DEB_HARDENING AND CMAKE_BUILD_TYPE STREQUAL "Release" AND UNIX AND NOT APPLE)
    find_program(OLVEX_DPKG_BUILDFLAGS dpkg-buildflags)
    if(NOT OLVEX_DPKG_BUILDFLAGS)
        message(WARNING "dpkg-buildflags not found: this release build is not hardened "
                        "(install dpkg-dev; scripts/setup.sh --package does)")
        return()
    endif()
    set(_olvex_hardening)
    foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
        # From the source folder, so that the file prefix it maps is that one.
        execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                ${OLVEX_DPKG_BUILDFLAGS} --get ${_kind}
                        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                        OUTPUT_VARIABLE _flags
                        OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE _status)
        if(NOT _status EQUAL 0)
            message(FATAL_ERROR "dpkg-buildflags --get ${_kind} failed")
        endif()
        separate_arguments(_flags UNIX_COMMAND "${_flags}")
        list(FILTER _flags EXCLUDE REGEX "^-(g[0-9]?|O[0-9sgz]?)$")
        if(_kind STREQUAL "LDFLAGS")
            add_link_options(${_flags})
        else()
            add_compile_options(${_flags})
        endif()
        list(APPEND _olvex_hardening ${_flags})
    endforeach()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    include(CheckPIESupported)
    check_pie_supported()
    list(JOIN _olvex_hardening " " _olvex_hardening)
    message(STATUS "Hardened release build (dpkg-buildflags): ${_olvex_hardening}, PIE")
endif()
