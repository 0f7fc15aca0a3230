# What the Windows programs load that a clean Windows 10 or 11 does not have:
# the toolkit's DLLs and two plugins from the Qt kit (OLVEX_QT_WINDOWS_ROOT,
# which cmake/mingw-w64-x86_64.cmake finds), MinGW's C++ runtime, which the
# kit's DLLs import themselves, and libgcrypt with libgpg-error, which check
# signed images (Debian's MinGW builds). Everything else they import is part
# of Windows.
#
#   OLVEX_WINDOWS_DLLS       files that go beside the programs
#   OLVEX_WINDOWS_PLUGINS    plugin files, each as <kind>/<file> under the
#                            kit's plugins/ and beside the programs alike
#   OLVEX_WINDOWS_TRANSLATIONS
#                            the toolkit's Russian texts (qtbase_ru.qm), which
#                            go into "translations" beside the programs, where
#                            the toolkit looks for them there
#   OLVEX_WINDOWS_FILES      files that go beside the programs as they are
#   OLVEX_WINDOWS_TEST_DLLS, OLVEX_WINDOWS_TEST_PLUGINS
#                            what the tests load besides (never shipped)
#   OLVEX_WINDOWS_ZIP        the zip users get (packaging/windows),
#   OLVEX_WINDOWS_ZIP_FOLDER the one folder it holds,
#   OLVEX_WINDOWS_STAGE      where that folder is laid out before packing,
#   OLVEX_WINDOWS_SETUP      the setup program, which installs that folder's
#                            files, and
#   OLVEX_WINDOWS_UNINSTALLER
#                            the uninstaller it puts beside them
#
# Signing (cache variables; empty: unsigned): OLVEX_SIGN_PKCS12, a
# code-signing certificate with its key; OLVEX_SIGN_PASSWORD_FILE, a file
# holding its password; OLVEX_SIGN_TIMESTAMP_URL, an RFC 3161 timestamp
# server. scripts/windows.sh sets them from the environment variables of the
# same names.

set(OLVEX_WINDOWS_ZIP ${PROJECT_BINARY_DIR}/olvex-updater-${PROJECT_VERSION}-windows-x64.zip)
set(OLVEX_WINDOWS_ZIP_FOLDER olvex-updater-${PROJECT_VERSION})
set(OLVEX_WINDOWS_STAGE ${PROJECT_BINARY_DIR}/packaging/windows/stage)
set(OLVEX_WINDOWS_SETUP
    ${PROJECT_BINARY_DIR}/olvex-updater-${PROJECT_VERSION}-windows-x64-setup.exe)
set(OLVEX_WINDOWS_UNINSTALLER ${PROJECT_BINARY_DIR}/packaging/windows/setup/uninstall.exe)

set(_olvex_kit ${OLVEX_QT_WINDOWS_ROOT})
set(OLVEX_WINDOWS_DLLS)
foreach(_dll Qt5Core Qt5Gui Qt5Widgets Qt5SerialPort Qt5Network)
    list(APPEND OLVEX_WINDOWS_DLLS ${_olvex_kit}/bin/${_dll}.dll)
endforeach()
foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
                    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(_path "${_path}" ABSOLUTE)
    if(NOT EXISTS "${_path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} knows no ${_dll}: is MinGW's runtime installed "
                            "(g++-mingw-w64-x86-64-posix)?")
    endif()
    list(APPEND OLVEX_WINDOWS_DLLS ${_path})
endforeach()
# Beside the import library the build links (lib/), in bin/.
get_filename_component(_olvex_gcrypt_bin ${OLVEX_GCRYPT_LIBRARY} DIRECTORY)
get_filename_component(_olvex_gcrypt_bin ${_olvex_gcrypt_bin}/../bin ABSOLUTE)
foreach(_dll libgcrypt-20.dll libgpg-error-0.dll)
    if(NOT EXISTS ${_olvex_gcrypt_bin}/${_dll})
        message(FATAL_ERROR "${_olvex_gcrypt_bin}/${_dll} not found: install "
                            "libgcrypt-mingw-w64-dev and libgpg-error-mingw-w64-dev "
                            "(scripts/setup.sh --windows)")
    endif()
    list(APPEND OLVEX_WINDOWS_DLLS ${_olvex_gcrypt_bin}/${_dll})
endforeach()
set(OLVEX_WINDOWS_PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll)
# The kit has no translations; Debian's of the same Qt release serve: a .qm
# file is the same on every platform.
find_file(OLVEX_WINDOWS_TRANSLATIONS qtbase_ru.qm PATHS /usr/share/qt5/translations
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT OLVEX_WINDOWS_TRANSLATIONS)
    message(FATAL_ERROR "qtbase_ru.qm not found in /usr/share/qt5/translations: install "
                        "qttranslations5-l10n (scripts/setup.sh --windows)")
endif()
# The Wireshark dissector for olvex-cli.exe's captures (wireshark/README.md).
set(OLVEX_WINDOWS_FILES ${PROJECT_SOURCE_DIR}/wireshark/olvex-cpd.lua)

set(OLVEX_WINDOWS_TEST_DLLS ${_olvex_kit}/bin/Qt5Test.dll)
set(OLVEX_WINDOWS_TEST_PLUGINS platforms/qoffscreen.dll)

foreach(_file ${OLVEX_WINDOWS_DLLS} ${OLVEX_WINDOWS_TEST_DLLS})
    if(NOT EXISTS ${_file})
        message(FATAL_ERROR "The Qt kit ${_olvex_kit} lacks ${_file}")
    endif()
endforeach()
foreach(_plugin ${OLVEX_WINDOWS_PLUGINS} ${OLVEX_WINDOWS_TEST_PLUGINS})
    if(NOT EXISTS ${_olvex_kit}/plugins/${_plugin})
        message(FATAL_ERROR "The Qt kit ${_olvex_kit} lacks plugins/${_plugin}")
    endif()
endforeach()

# The setup program's compiler (Debian's nsis).
find_program(OLVEX_MAKENSIS makensis)
if(NOT OLVEX_MAKENSIS)
    message(FATAL_ERROR "makensis not found, which makes the setup program: install nsis "
                        "(scripts/setup.sh --windows)")
endif()

set(OLVEX_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key (PKCS#12); empty: unsigned")
set(OLVEX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the certificate's password")
set(OLVEX_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signatures")
find_program(OLVEX_OSSLSIGNCODE osslsigncode)
if(OLVEX_SIGN_PKCS12)
    if(NOT OLVEX_OSSLSIGNCODE)
        message(FATAL_ERROR "osslsigncode not found, which signs with OLVEX_SIGN_PKCS12: install "
                            "osslsigncode (scripts/setup.sh --windows)")
    endif()
    foreach(_file ${OLVEX_SIGN_PKCS12} ${OLVEX_SIGN_PASSWORD_FILE})
        if(NOT EXISTS ${_file})
            message(FATAL_ERROR "No such file: ${_file}")
        endif()
    endforeach()
endif()
