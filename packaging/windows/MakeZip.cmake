# cmake -DZIP=<zip> -DFOLDER=<name> -DSTAGE=<dir> -DSTRIP=<strip> -DPROGRAMS=<exe;...>
#       -DDLLS=<dll;...> -DPLUGIN_ROOT=<dir> -DPLUGINS=<kind/file;...> [-DFILES=<file;...>]
#       -DTRANSLATIONS=<qm;...> -DREADME=<file>
#       [-DOSSLSIGNCODE=<osslsigncode> -DSIGN_PKCS12=<file> [-DSIGN_PASSWORD_FILE=<file>]
#        [-DSIGN_TIMESTAMP_URL=<url>] [-DURL=<url>]] -P MakeZip.cmake
# Lays the programs out in STAGE/FOLDER with their DLLs and plugins, strips
# them all of their debugging sections (MinGW's C++ runtime is ten times its
# size with them), signs the programs when SIGN_PKCS12 is given, adds FILES as
# they are, the toolkit's translations in translations/ and README.txt, and
# packs the folder into ZIP. The setup program
# (MakeSetup.cmake) installs that same folder.
include(${CMAKE_CURRENT_LIST_DIR}/Sign.cmake)
file(REMOVE_RECURSE ${STAGE})
set(_dir ${STAGE}/${FOLDER})
file(MAKE_DIRECTORY ${_dir})

function(_olvex_strip_into from to)
    execute_process(COMMAND ${STRIP} --strip-unneeded -o ${to} ${from} RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
        message(FATAL_ERROR "${STRIP} failed on ${from}")
    endif()
endfunction()

foreach(_file ${PROGRAMS} ${DLLS})
    get_filename_component(_name ${_file} NAME)
    _olvex_strip_into(${_file} ${_dir}/${_name})
endforeach()
# Each program signed under its own name, Olvex_Updater.exe as "Olvex Updater".
foreach(_file ${PROGRAMS})
    get_filename_component(_name ${_file} NAME)
    get_filename_component(_description ${_file} NAME_WE)
    string(REPLACE "_" " " _description ${_description})
    olvex_sign(${_dir}/${_name} ${_description})
endforeach()
foreach(_plugin ${PLUGINS})
    get_filename_component(_kind ${_plugin} DIRECTORY)
    file(MAKE_DIRECTORY ${_dir}/${_kind})
    _olvex_strip_into(${PLUGIN_ROOT}/${_plugin} ${_dir}/${_plugin})
endforeach()
if(FILES)
    file(COPY ${FILES} DESTINATION ${_dir})
endif()

# Where the toolkit looks for its translations beside a program that carries
# its own DLLs.
file(COPY ${TRANSLATIONS} DESTINATION ${_dir}/translations)

# Notepad of every Windows 10 reads UTF-8 with a byte-order mark and CR LF.
file(READ ${README} _text)
string(REPLACE "\r\n" "\n" _text "${_text}")
string(REPLACE "\n" "\r\n" _text "${_text}")
string(ASCII 239 187 191 _bom)
file(WRITE ${_dir}/README.txt "${_bom}${_text}")

file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${FOLDER}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "cannot pack ${ZIP}")
endif()
