# cmake -DPROGRAMS="a;b" -P CheckCoreOnly.cmake
# Fails unless each program's shared libraries, as ldd resolves them, hold Qt
# Core and none of the toolkit's GUI or widget libraries: such a program runs
# on a machine with no display and no widget library installed.
foreach(_program ${PROGRAMS})
    execute_process(COMMAND ldd ${_program} OUTPUT_VARIABLE _libs RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
        message(FATAL_ERROR "ldd ${_program} failed")
    endif()
    string(REGEX MATCHALL "libQt[0-9][A-Za-z]+" _qt "${_libs}")
    list(REMOVE_DUPLICATES _qt)
    message(STATUS "${_program}: ${_qt}")
    if(NOT _libs MATCHES "libQt[56]Core")
        message(FATAL_ERROR "${_program} does not use Qt Core: the check looks at the wrong thing")
    endif()
    if(_libs MATCHES "libQt[56](Gui|Widgets|OpenGL|XcbQpa|DBus)")
        message(FATAL_ERROR "${_program} needs the toolkit's GUI libraries: ${_qt}")
    endif()
endforeach()
