# olvex_sign(FILE DESCRIPTION): signs the Windows program FILE in place with
# osslsigncode (Authenticode, SHA-256) when SIGN_PKCS12 names a code-signing
# certificate with its key; does nothing otherwise. DESCRIPTION is the
# program's name as Windows shows it when it asks for administrator rights,
# URL the publisher's page. The certificate's password comes from the file
# SIGN_PASSWORD_FILE (never from a command line others could see), a
# timestamp from the RFC 3161 server SIGN_TIMESTAMP_URL when given, so that
# the signature stays valid after the certificate expires. A failure stops
# the build: a release is never signed by half.
function(olvex_sign file description)
    if(NOT SIGN_PKCS12)
        return()
    endif()
    set(_options -pkcs12 ${SIGN_PKCS12} -h sha256 -n ${description})
    if(URL)
        list(APPEND _options -i ${URL})
    endif()
    if(SIGN_PASSWORD_FILE)
        list(APPEND _options -readpass ${SIGN_PASSWORD_FILE})
    endif()
    if(SIGN_TIMESTAMP_URL)
        list(APPEND _options -ts ${SIGN_TIMESTAMP_URL})
    endif()
    file(REMOVE ${file}.signed)
    execute_process(COMMAND ${OSSLSIGNCODE} sign ${_options} -in ${file} -out ${file}.signed
                    RESULT_VARIABLE _status OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
    if(NOT _status EQUAL 0)
        file(REMOVE ${file}.signed)
        message(FATAL_ERROR "Signing ${file} failed:\n${_output}")
    endif()
    file(RENAME ${file}.signed ${file})
endfunction()

# Run by itself, it signs one file:
#   cmake -DOSSLSIGNCODE=<osslsigncode> -DSIGN_PKCS12=<file> [-DSIGN_PASSWORD_FILE=<file>]
#         [-DSIGN_TIMESTAMP_URL=<url>] [-DURL=<url>] -DFILE=<exe> -DDESCRIPTION=<name>
#         -P Sign.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    olvex_sign(${FILE} ${DESCRIPTION})
endif()
