#!/usr/bin/env bash
# The Windows programs, made on this Debian machine: cross-builds
# Olvex_Updater.exe and olvex-cli.exe with MinGW-w64 and the Qt kit for
# Windows in build-windows, runs their tests under Wine through ctest (the
# Linux simulator of build/ plays the devices on Wine's COM ports), and packs
# build-windows/olvex-updater-<version>-windows-x64.zip and the setup
# program olvex-updater-<version>-windows-x64-setup.exe beside it, whose
# paths it prints last. Installs what is missing first (Debian, apt-get).
#
#   scripts/windows.sh                build, test, pack
#   scripts/windows.sh --no-tests     build and pack only
#   scripts/windows.sh --screenshots  also the pictures in docs/screenshots/windows
#   scripts/windows.sh --test-sign    signed with a throwaway certificate
#                                     made here, unless one is given (below)
#   scripts/windows.sh -R tst_frame   extra arguments go to ctest
#
# Signing: with OLVEX_SIGN_PKCS12 naming a code-signing certificate with its
# key (a .p12/.pfx file) and OLVEX_SIGN_PASSWORD_FILE a file holding its
# password, both programs, the uninstaller and the setup program are signed
# with osslsigncode, and timestamped by the RFC 3161 server
# OLVEX_SIGN_TIMESTAMP_URL if given. Without a certificate they are unsigned,
# and the script says so.
#
# The kit comes from OLVEX_QT_WINDOWS (a kit folder or its .tar.xz), else
# the newest qt-5.*-mingw64.tar.xz in ../shared/toolchains/, or, in a clone
# of a repository on this machine (git clone . /tmp/fresh), beside that one.
set -euo pipefail
# The certificate's files as named from where the script was started.
pkcs12=${OLVEX_SIGN_PKCS12:+$(realpath -m "$OLVEX_SIGN_PKCS12")}
password=${OLVEX_SIGN_PASSWORD_FILE:+$(realpath -m "$OLVEX_SIGN_PASSWORD_FILE")}
timestamp=${OLVEX_SIGN_TIMESTAMP_URL:-}
cd "$(dirname "$0")/.."

tests=1
screenshots=0
test_sign=0
while [ $# -gt 0 ]; do
    case "$1" in
        --no-tests) tests=0 ;;
        --screenshots) screenshots=1 ;;
        --test-sign) test_sign=1 ;;
        *) break ;;
    esac
    shift
done

scripts/setup.sh --windows
. scripts/lib.sh

if [ -z "${OLVEX_QT_WINDOWS:-}" ] && ! ls ../shared/toolchains/qt-5.*-mingw64.tar.xz >/dev/null 2>&1; then
    origin=$(git remote get-url origin 2>/dev/null || true)
    if [ -d "$origin" ]; then
        kit=$(ls "$origin"/../shared/toolchains/qt-5.*-mingw64.tar.xz 2>/dev/null | sort | tail -n 1 || true)
        [ -n "$kit" ] && export OLVEX_QT_WINDOWS=$(realpath "$kit")
    fi
fi

dir=build-windows
echo "== $dir (MinGW-w64, Qt for Windows, tests under Wine)"
if [ -n "$pkcs12" ]; then
    for file in "$pkcs12" $password; do
        [ -r "$file" ] || { echo "windows: cannot read $file" >&2; exit 1; }
    done
    echo "windows: signing with $pkcs12${timestamp:+, timestamps from $timestamp}"
elif [ $test_sign -eq 1 ]; then
    tests/wine/test-certificate.sh "$dir/test-certificate"
    pkcs12=$PWD/$dir/test-certificate/certificate.p12
    password=$PWD/$dir/test-certificate/password
    timestamp=
    echo "windows: signing with a throwaway self-signed certificate ($dir/test-certificate), for tests only"
else
    echo "windows: unsigned: no code-signing certificate given (OLVEX_SIGN_PKCS12)"
fi
# The simulator the tests run on the other end of Wine's COM ports.
build_targets build -j2 --target olvex-devsim
configure_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DOLVEX_DEVSIM="$PWD/build/devsim/olvex-devsim" -DOLVEX_SIGN_PKCS12="$pkcs12" \
    -DOLVEX_SIGN_PASSWORD_FILE="$password" -DOLVEX_SIGN_TIMESTAMP_URL="$timestamp"
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
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
for made in "$dir/olvex-updater-$version-windows-x64.zip" "$dir/olvex-updater-$version-windows-x64-setup.exe"; do
    [ -f "$made" ] || { echo "windows: $made was not made" >&2; exit 1; }
    echo "$made"
done
