#!/usr/bin/env bash
# Installs what Olvex Updater needs to build, run and test on Debian, once.
# Safe to run again: it installs only what is missing.
#
#   scripts/setup.sh             the Linux build and its tests
#   scripts/setup.sh --windows   also the cross build for Windows and Wine to
#                                test it (scripts/windows.sh)
set -euo pipefail
. "$(dirname "$0")/lib.sh"

packages=(g++ cmake ninja-build pkg-config qtbase5-dev libqt5serialport5-dev
          xvfb xauth fonts-dejavu-core
          qt6-base-dev qt6-serialport-dev
          binutils-mingw-w64-x86-64
          desktop-file-utils appstream dpkg-dev file lintian
          man-db bash-completion devscripts
          clang
          ansible-core ansible-lint python3-apt ser2net)

# The Windows build: MinGW-w64 with POSIX threads (the win32 thread model has
# no std::mutex); Wine with the X libraries its display driver loads; the
# resource reader, and the keyboard and pictures of the window's tests; the
# setup program's compiler, the code-signing tool with the certificate tool
# that makes the tests' throwaway certificate, and the shortcut reader of the
# setup's test.
windows_packages=(g++-mingw-w64-x86-64-posix wine64
                  libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxfixes3 libxinerama1
                  icoutils xdotool imagemagick
                  nsis osslsigncode openssl liblnk-utils)

install_missing() { # packages...
    local missing=() p
    for p in "$@"; do
        package_installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "setup: these Debian packages are missing and apt-get is not available: ${missing[*]}" >&2
        exit 1
    fi
    local sudo
    sudo=$(root_prefix) || { echo "setup: run as root or install sudo to get: ${missing[*]}" >&2; exit 1; }
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing "${packages[@]}"
if [ "${1:-}" = --windows ]; then
    install_missing "${windows_packages[@]}"
fi
# The fuzzing runtime belongs to the release's clang: libclang-rt-14-dev on
# Debian 12, the same series as clang on later releases.
install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
