# cmake -DMAKENSIS=<makensis> -DSTAGE=<folder> -DVERSION=<x.y.z> -DPUBLISHER=<name>
#       -DURL=<url> -DICON=<ico> -DSETUP=<setup.exe> -DWORK=<dir>
#       [-DOSSLSIGNCODE=<osslsigncode> -DSIGN_PKCS12=<file> [-DSIGN_PASSWORD_FILE=<file>]
#        [-DSIGN_TIMESTAMP_URL=<url>]] -P MakeSetup.cmake
# Makes the setup program of the folder STAGE, which MakeZip.cmake laid out
# for the zip: the setup installs exactly the files the zip holds, whatever
# they are. Lists them in WORK/files.nsh, builds the uninstaller
# WORK/uninstall.exe from uninstall.nsi and then SETUP from setup.nsi, both
# beside this file, and signs each as it is made when SIGN_PKCS12 is given.
include(${CMAKE_CURRENT_LIST_DIR}/Sign.cmake)

file(MAKE_DIRECTORY ${WORK})
file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
list(SORT _files)
if(NOT _files)
    message(FATAL_ERROR "${STAGE} holds no file")
endif()
set(_folders)
foreach(_file ${_files})
    get_filename_component(_folder ${_file} DIRECTORY)
    while(_folder)
        list(APPEND _folders ${_folder})
        get_filename_component(_folder ${_folder} DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES _folders)
list(SORT _folders) # a folder before the folders in it
set(_reversed ${_folders})
list(REVERSE _reversed)

# Each list is a macro that inserts the macro it is given once for each entry;
# a file comes with its Windows path and its path in STAGE.
function(_olvex_nsis_list name entries with_source out)
    set(_text "!macro ${name} MACRO\n")
    foreach(_entry ${entries})
        string(REPLACE "/" "\\" _windows "${_entry}")
        if(with_source)
            string(APPEND _text "    !insertmacro \${MACRO} \"${_windows}\" \"${_entry}\"\n")
        else()
            string(APPEND _text "    !insertmacro \${MACRO} \"${_windows}\"\n")
        endif()
    endforeach()
    set(${out} "${_text}!macroend\n" PARENT_SCOPE)
endfunction()
_olvex_nsis_list(OLVEX_FOR_EACH_FILE "${_files}" TRUE _file_list)
_olvex_nsis_list(OLVEX_FOR_EACH_FOLDER "${_folders}" FALSE _folder_list)
_olvex_nsis_list(OLVEX_FOR_EACH_FOLDER_DEEPEST_FIRST "${_reversed}" FALSE _reversed_list)
file(WRITE ${WORK}/files.nsh
     "; The files of the zip, listed by MakeSetup.cmake from ${STAGE}.\n"
     "${_file_list}${_folder_list}${_reversed_list}")

# The version block wants four numbers.
string(REGEX MATCHALL "[0-9]+" _numbers "${VERSION}")
list(APPEND _numbers 0 0 0 0)
list(SUBLIST _numbers 0 4 _numbers)
list(JOIN _numbers "." _quad)

function(_olvex_makensis script out)
    execute_process(
        COMMAND ${MAKENSIS} -V2 -WX -INPUTCHARSET UTF8
                -DOLVEX_VERSION=${VERSION} -DOLVEX_VERSION_QUAD=${_quad}
                -DOLVEX_PUBLISHER=${PUBLISHER} -DOLVEX_URL=${URL}
                -DOLVEX_FILES=${WORK}/files.nsh -DOLVEX_ICON=${ICON} -DOLVEX_STAGE=${STAGE}
                -DOLVEX_UNINSTALLER=${WORK}/uninstall.exe -DOLVEX_OUT=${out}
                ${CMAKE_CURRENT_LIST_DIR}/${script}
        RESULT_VARIABLE _status OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
    if(NOT _status EQUAL 0)
        message(FATAL_ERROR "makensis failed on ${script}:\n${_output}")
    endif()
endfunction()

file(REMOVE ${WORK}/uninstall.exe ${SETUP})
_olvex_makensis(uninstall.nsi ${WORK}/uninstall.exe)
olvex_sign(${WORK}/uninstall.exe "Удаление Olvex Updater")
_olvex_makensis(setup.nsi ${SETUP})
olvex_sign(${SETUP} "Установка Olvex Updater")
