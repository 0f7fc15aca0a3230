# olvex_test_environment(<variable>)
# What every test runs with, and every program it starts: the offscreen
# platform, the sanitizers' options with their suppressions, and
# OLVEX_TEST_ENVIRONMENT as set where it is called. A test that is not a
# QtTest executable takes it as its ENVIRONMENT too.
function(olvex_test_environment out)
    set(${out}
        QT_QPA_PLATFORM=offscreen
        "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/tsan.supp halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1"
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0"
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan.supp"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        ${OLVEX_TEST_ENVIRONMENT}
        PARENT_SCOPE)
endfunction()

# olvex_add_test(NAME <name> LAYER core|window [SIMULATOR] SOURCES <files...>
#                [LABELS <labels...>] [TIMEOUT <s>] [LIBS <libs...>]
#                [LAUNCHER <command...>])
# Adds one QtTest executable, registers it with ctest and runs it on the
# offscreen platform, so no display is needed. A test of the line core links
# the core alone, never the widgets; a test of the window links the window.
# SIMULATOR: the test plays devices on a simulated line (a pseudo-terminal);
# where the simulator is not built (Windows) the test is not either.
# LAUNCHER: the command the test program runs under (dbus-run-session --).
#
# A cross build runs its tests through CMAKE_CROSSCOMPILING_EMULATOR, with
# OLVEX_TEST_ENVIRONMENT added to their environment and OLVEX_TEST_FIXTURES
# required (tests/wine sets both for Wine).
function(olvex_add_test)
    cmake_parse_arguments(T "SIMULATOR" "NAME;LAYER;TIMEOUT" "SOURCES;LABELS;LIBS;LAUNCHER" ${ARGN})
    if(T_SIMULATOR AND NOT TARGET olvex_devsim)
        return()
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    if(T_LAYER STREQUAL "core")
        set(_support olvex_testsupport_core)
        if(T_SIMULATOR)
            set(_support olvex_testsupport_line)
        endif()
    elseif(T_LAYER STREQUAL "window")
        set(_support olvex_testsupport)
        if(T_SIMULATOR)
            set(_support olvex_testsupport_window_line)
        endif()
    else()
        message(FATAL_ERROR "olvex_add_test(${T_NAME}): LAYER must be core or window")
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${_support} Qt::Test ${T_LIBS})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(T_LAUNCHER)
        add_test(NAME ${T_NAME} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${T_NAME}>)
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    olvex_test_environment(_env)
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "${_env}"
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}")
    if(OLVEX_TEST_FIXTURES)
        set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "${OLVEX_TEST_FIXTURES}")
        # Under Wine the window's tests take turns: two that start together
        # in one prefix now and then fail to make the event dispatcher's
        # window ("CreateWindow() for QEventDispatcherWin32 internal window
        # failed") and crash.
        if(T_LAYER STREQUAL "window")
            set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK wine_windows)
        endif()
    endif()
endfunction()

# olvex_add_missing_tool_test(NAME <name> TOOL <program> PACKAGE <package>)
# Stands in for a test whose tool is not installed. It fails, naming the
# package to install, so that a machine without the tool does not pass by
# leaving the check out. Configuring says so only as a status line: a build
# that only runs the programs (scripts/run.sh) needs none of these tools.
function(olvex_add_missing_tool_test)
    cmake_parse_arguments(T "" "NAME;TOOL;PACKAGE" "" ${ARGN})
    # The cross build's tools come with the Windows pass's.
    set(_setup "scripts/setup.sh --tests")
    if(CMAKE_CROSSCOMPILING)
        set(_setup "scripts/setup.sh --windows")
    endif()
    message(STATUS "${T_TOOL} not found: ${T_NAME} will fail until ${T_PACKAGE} is installed "
                   "(${_setup} installs it)")
    add_test(NAME ${T_NAME}
             COMMAND ${CMAKE_COMMAND} -E echo "${T_TOOL} not found: install ${T_PACKAGE}")
    set_tests_properties(${T_NAME} PROPERTIES FAIL_REGULAR_EXPRESSION "not found")
endfunction()
