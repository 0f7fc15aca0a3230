#!/usr/bin/env bash
# The Windows programs, made on this Debian machine: cross-builds
# Olvex_Updater.exe and olvex-cli.exe with MinGW-w64 and the Qt kit for
# Windows in build-windows, runs their tests under Wine through ctest (the
# Linux simulator of build/ plays the devices on Wine's COM ports), and packs
# build-windows/olvex-updater-<version>-windows-x64.zip, whose path it prints
# last. Installs what is missing first (Debian, apt-get).
#
#   scripts/windows.sh                build, test, pack
#   scripts/windows.sh --no-tests     build and pack only
#   scripts/windows.sh --screenshots  also the pictures in docs/screenshots/windows
#   scripts/windows.sh -R tst_frame   extra arguments go to ctest
#
# The kit comes from OLVEX_QT_WINDOWS (a kit folder or its .tar.xz), else
# the newest qt-5.*-mingw64.tar.xz in ../shared/toolchains/.
set -euo pipefail
cd "$(dirname "$0")/.."

tests=1
screenshots=0
case "${1:-}" in
    --no-tests) tests=0; shift ;;
    --screenshots) screenshots=1; shift ;;
esac

scripts/setup.sh --windows
. scripts/lib.sh

dir=build-windows
echo "== $dir (MinGW-w64, Qt for Windows, tests under Wine)"
# The simulator the tests run on the other end of Wine's COM ports.
build_targets build -j2 --target olvex-devsim
configure_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DOLVEX_DEVSIM="$PWD/build/devsim/olvex-devsim"
cmake --build "$dir" -j2
if [ $tests -eq 1 ]; then
    run_tests "$dir" "$@"
fi
if [ $screenshots -eq 1 ]; then
    # The window and the about dialog as a Windows 10 user sees them.
    wine=$dir/wine
    tests/wine/prefix.sh "$wine/lines" "COM7=$PWD/$wine/com7" "COM12=$PWD/$wine/com12"
    WINEPREFIX=$PWD/$wine/lines tests/wine/window-line.sh "$dir/bin" build/devsim/olvex-devsim \
        "$wine" docs/screenshots/windows
fi
zip=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
zip=$dir/olvex-updater-$zip-windows-x64.zip
[ -f "$zip" ] || { echo "windows: $zip was not made" >&2; exit 1; }
echo "$zip"
