# Cross build for 64-bit Windows on Debian with MinGW-w64 (GCC, POSIX
# threads: the win32 thread model has no std::mutex), against a Qt 5 kit
# built for MinGW-w64.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF
#   cmake --build build-windows --target olvex-updater
#
# The kit comes from OLVEX_QT_WINDOWS (a CMake variable, or else the
# environment variable of that name): a kit folder, or its .tar.xz archive,
# which is unpacked into the build folder. Without it the kit is looked for in
# ../shared/toolchains/ beside the project folder. The kit's bin/ holds moc,
# rcc and uic built for the build machine; its Qt5*Config.cmake files name
# them, so nothing else is needed for AUTOMOC/AUTOUIC/AUTORCC.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_olvex_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_olvex_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_olvex_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_olvex_mingw}-windres)
set(CMAKE_AR ${_olvex_mingw}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${_olvex_mingw}-ranlib CACHE FILEPATH "Archive indexer")

# Libraries, headers and packages only from the MinGW sysroot and the Qt kit;
# programs (the kit's moc, cmake, ninja) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${_olvex_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run through Wine where CMake or ctest needs to run one.
find_program(OLVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(OLVEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OLVEX_WINE})
endif()

# A try_compile reads this file again in a project of its own; it needs the
# compilers only, not the kit.
get_property(_olvex_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(_olvex_in_try_compile)
    return()
endif()

# The kit's root is the folder that holds lib/cmake/Qt5Core; an archive or a
# folder may wrap it in one folder of its own.
function(_olvex_qt_kit_root dir out)
    if(EXISTS ${dir}/lib/cmake/Qt5Core/Qt5CoreConfig.cmake)
        set(${out} ${dir} PARENT_SCOPE)
        return()
    endif()
    file(GLOB _inner LIST_DIRECTORIES true ${dir}/*/lib/cmake/Qt5Core/Qt5CoreConfig.cmake)
    list(LENGTH _inner _count)
    if(_count EQUAL 1)
        get_filename_component(_root ${_inner} DIRECTORY)
        get_filename_component(_root ${_root}/../../.. ABSOLUTE)
        set(${out} ${_root} PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

if(NOT OLVEX_QT_WINDOWS AND DEFINED ENV{OLVEX_QT_WINDOWS})
    set(OLVEX_QT_WINDOWS $ENV{OLVEX_QT_WINDOWS})
endif()
if(NOT OLVEX_QT_WINDOWS)
    file(GLOB _olvex_kits ${CMAKE_CURRENT_LIST_DIR}/../../shared/toolchains/qt-5.*-mingw64.tar.xz)
    if(_olvex_kits)
        list(SORT _olvex_kits)
        list(REVERSE _olvex_kits) # the newest 5.x first
        list(GET _olvex_kits 0 OLVEX_QT_WINDOWS)
    endif()
    if(NOT OLVEX_QT_WINDOWS)
        message(FATAL_ERROR "No Qt kit for Windows: set OLVEX_QT_WINDOWS to a kit folder or its "
                            ".tar.xz archive (none in ../shared/toolchains/ either)")
    endif()
endif()
get_filename_component(OLVEX_QT_WINDOWS ${OLVEX_QT_WINDOWS} ABSOLUTE)
set(OLVEX_QT_WINDOWS ${OLVEX_QT_WINDOWS} CACHE PATH
    "Qt kit for MinGW-w64 x86_64: a folder or a .tar.xz archive" FORCE)

if(IS_DIRECTORY ${OLVEX_QT_WINDOWS})
    _olvex_qt_kit_root(${OLVEX_QT_WINDOWS} _olvex_qt_root)
else()
    # Unpacked once per archive: the stamp names the archive, its size and
    # its time, so a new archive in the same place is unpacked again.
    if(NOT EXISTS ${OLVEX_QT_WINDOWS})
        message(FATAL_ERROR "OLVEX_QT_WINDOWS: no such file or folder: ${OLVEX_QT_WINDOWS}")
    endif()
    set(_olvex_unpacked ${CMAKE_BINARY_DIR}/qt-windows-kit)
    file(SIZE ${OLVEX_QT_WINDOWS} _olvex_size)
    file(TIMESTAMP ${OLVEX_QT_WINDOWS} _olvex_time UTC)
    set(_olvex_stamp "${OLVEX_QT_WINDOWS} ${_olvex_size} ${_olvex_time}")
    set(_olvex_old_stamp "")
    if(EXISTS ${_olvex_unpacked}/.unpacked-from)
        file(READ ${_olvex_unpacked}/.unpacked-from _olvex_old_stamp)
    endif()
    if(NOT _olvex_old_stamp STREQUAL _olvex_stamp)
        message(STATUS "Unpacking ${OLVEX_QT_WINDOWS} into ${_olvex_unpacked}")
        file(REMOVE_RECURSE ${_olvex_unpacked})
        file(MAKE_DIRECTORY ${_olvex_unpacked})
        execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${OLVEX_QT_WINDOWS}
                        WORKING_DIRECTORY ${_olvex_unpacked}
                        RESULT_VARIABLE _olvex_tar)
        if(NOT _olvex_tar EQUAL 0)
            message(FATAL_ERROR "Cannot unpack ${OLVEX_QT_WINDOWS}")
        endif()
        file(WRITE ${_olvex_unpacked}/.unpacked-from ${_olvex_stamp})
    endif()
    _olvex_qt_kit_root(${_olvex_unpacked} _olvex_qt_root)
endif()
if(NOT _olvex_qt_root)
    message(FATAL_ERROR "${OLVEX_QT_WINDOWS} holds no Qt kit (no lib/cmake/Qt5Core)")
endif()

# Where the kit ended up; the scripts copy its DLLs and plugins from here.
set(OLVEX_QT_WINDOWS_ROOT ${_olvex_qt_root} CACHE INTERNAL "Root of the Qt kit for Windows")
list(APPEND CMAKE_FIND_ROOT_PATH ${_olvex_qt_root})
list(APPEND CMAKE_PREFIX_PATH ${_olvex_qt_root})
