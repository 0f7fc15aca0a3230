# cmake -DPAGE=<page> [-DPROGRAM=<program>] [-DMAN=<man>] -P CheckManPage.cmake
# A manual page that cannot drift from its program: every option the
# program's --help lists is described in the page's OPTIONS section, and the
# section describes no option the program does not have; every command the
# help lists under "Commands:" has its entry in the page's COMMANDS section.
# With MAN, the page also renders without a single warning, as lintian
# renders it.
file(READ ${PAGE} _page)
get_filename_component(_name ${PAGE} NAME)

if(MAN)
    execute_process(COMMAND ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${PAGE}
                    OUTPUT_QUIET ERROR_VARIABLE _warnings RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0 OR _warnings)
        message(FATAL_ERROR "${_name} does not render cleanly (status ${_status}):\n${_warnings}")
    endif()
endif()

if(NOT PROGRAM)
    return()
endif()

# Options are words that open with one or two dashes and a letter, after a
# blank, a comma or a bracket: "-d, --device <address>", "[--port PORT".
function(options_in text out)
    # A bracket in a list element would hold the list together: none kept.
    string(REGEX REPLACE "[][(),]" " " text "${text}")
    string(REGEX MATCHALL "(^|[ \t\n])--?[A-Za-z][A-Za-z0-9-]*" _found "${text}")
    set(_options)
    foreach(_option ${_found})
        string(REGEX MATCH "--?[A-Za-z][A-Za-z0-9-]*$" _option "${_option}")
        list(APPEND _options ${_option})
    endforeach()
    list(REMOVE_DUPLICATES _options)
    list(SORT _options)
    set(${out} ${_options} PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${PROGRAM} --help
                OUTPUT_VARIABLE _help ERROR_VARIABLE _help_err RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (status ${_status}): ${_help_err}")
endif()
options_in("${_help}" _program_options)
if(NOT _program_options)
    message(FATAL_ERROR "${PROGRAM} --help lists no options: the check looks at the wrong thing")
endif()

# A section of the page as text: roff's minus signs plain, font changes gone.
function(page_section title out)
    string(FIND "${_page}" "\n.SH ${title}\n" _start)
    if(_start EQUAL -1)
        message(FATAL_ERROR "${_name} has no ${title} section")
    endif()
    string(LENGTH "\n.SH ${title}\n" _skip)
    math(EXPR _start "${_start} + ${_skip}")
    string(SUBSTRING "${_page}" ${_start} -1 _section)
    string(FIND "${_section}" "\n.SH " _end)
    if(NOT _end EQUAL -1)
        string(SUBSTRING "${_section}" 0 ${_end} _section)
    endif()
    string(REPLACE "\\-" "-" _section "${_section}")
    string(REGEX REPLACE "\\\\f[BIRP]" "" _section "${_section}")
    set(${out} "${_section}" PARENT_SCOPE)
endfunction()

page_section(OPTIONS _section)
string(REGEX REPLACE "\n\\.[A-Z]+ " "\n" _section "${_section}")
options_in("${_section}" _page_options)

set(_missing ${_program_options})
list(REMOVE_ITEM _missing ${_page_options})
set(_extra ${_page_options})
list(REMOVE_ITEM _extra ${_program_options})
if(_missing)
    message(FATAL_ERROR "${_name} does not describe ${_missing}, which ${PROGRAM} --help lists")
endif()
if(_extra)
    message(FATAL_ERROR "${_name} describes ${_extra}, which ${PROGRAM} --help does not list")
endif()

# Commands: the help's lines "  name ..." under "Commands:", each the tag of
# an entry (".B name", ".BI name ...") in the page's COMMANDS section.
string(FIND "${_help}" "\nCommands:\n" _start)
if(NOT _start EQUAL -1)
    string(SUBSTRING "${_help}" ${_start} -1 _commands_text)
    string(FIND "${_commands_text}" "\n\n" _end)
    string(SUBSTRING "${_commands_text}" 0 ${_end} _commands_text)
    string(REGEX MATCHALL "\n  [a-z]+ " _commands "${_commands_text}")
    list(TRANSFORM _commands STRIP)
    list(REMOVE_DUPLICATES _commands)
    if(NOT _commands)
        message(FATAL_ERROR "${PROGRAM} --help has a Commands section without commands")
    endif()
    page_section(COMMANDS _section)
    foreach(_command ${_commands})
        if(NOT _section MATCHES "\n\\.BI? ${_command}[ \n]")
            message(FATAL_ERROR "${_name} has no entry for the command ${_command}, which "
                                "${PROGRAM} --help lists")
        endif()
    endforeach()
    message(STATUS "${_name}: commands ${_commands}")
endif()
message(STATUS "${_name}: ${_page_options}")
