#!/usr/bin/env bash
# Installs what Olvex Updater needs on Debian for one purpose, once. Each
# purpose takes what the ones above it need too. Safe to run again: it
# installs only what is missing.
#
#   scripts/setup.sh             building and running: the compiler, CMake,
#                                Ninja and Qt 5 (scripts/run.sh, bench.sh,
#                                make-icon.sh)
#   scripts/setup.sh --package   also the Debian package's tools
#                                (scripts/package.sh)
#   scripts/setup.sh --tests     also every tool the tests use, Qt 6 among
#                                them (scripts/test.sh)
#   scripts/setup.sh --windows   also the cross build for Windows and Wine to
#                                test it (scripts/windows.sh)
set -euo pipefail
. "$(dirname "$0")/lib.sh"

case "${1:-}" in
    "") level=0 ;;
    --package) level=1 ;;
    --tests) level=2 ;;
    --windows) level=3 ;;
    *) echo "usage: scripts/setup.sh [--package|--tests|--windows]" >&2; exit 2 ;;
esac

# Building and running. Qt's own dependencies bring what the window needs
# when it runs: the X11 platform plugin, fontconfig and a font; the
# toolkit's Russian texts (its dialogs) come with its translations.
build_packages=(
    g++
    cmake
    ninja-build
    qtbase5-dev
    libqt5serialport5-dev
    qttranslations5-l10n
    libgcrypt20-dev             # signed images: Ed25519, BLAKE2b-512
)

# A machine without a screen gets the virtual one that scripts/run.sh points
# to (xvfb-run).
screenless_packages=(
    xvfb
    xauth
)

# The Debian package: dpkg-buildflags (the hardening of release builds),
# dpkg-shlibdeps and file (CPack reads the package's dependencies off the
# programs with them).
package_packages=(
    dpkg-dev
    file
)

# The tests (scripts/test.sh). The fuzzing runtime of clang is added below:
# its name carries clang's version.
test_packages=(
    fonts-dejavu-core           # the font the window's tests draw with, Wine's dialog font too
    qt6-base-dev                # the suite built on Qt 6
    qt6-serialport-dev
    qt6-translations-l10n       # the toolkit's Russian texts on Qt 6
    dbus-daemon                 # dbus-run-session: a session bus of the window's tests' own
    dbus-bin                    # dbus-monitor, which watches it
    xvfb                        # a screen and a keyboard for the window as the README starts it
    xdotool
    binutils-mingw-w64-x86-64   # windres: the Windows resources (tst_winres)
    desktop-file-utils          # desktop-file-validate: the menu entry
    appstream                   # appstreamcli: the software-centre description
    man-db                      # man: the manual pages render
    bash-completion             # olvex-cli's completion as bash loads it
    clang                       # the fuzz target under libFuzzer
    lintian                     # scripts/check-package.sh
    devscripts                  # hardening-check, the same
    ansible-core                # scripts/check-ansible.sh
    ansible-lint
    python3-apt                 # Ansible's apt module, which the role uses
    ser2net                     # a serial device server: the lines reached over the network
    tshark                      # the Wireshark dissector on the captures, with capinfos
    python3                     # the dissector's test
    minisign                    # the tests' signing keys and signed images
)

# The Windows build: MinGW-w64 with POSIX threads (the win32 thread model has
# no std::mutex); Wine with the X libraries its display driver loads; the
# resource reader, and the screen, keyboard and pictures of the window's
# tests; the setup program's compiler, the code-signing tool with the
# certificate tool that makes the tests' throwaway certificate, and the
# shortcut reader of the setup's test.
windows_packages=(
    g++-mingw-w64-x86-64-posix
    libgcrypt-mingw-w64-dev     # signed images, with its DLL and libgpg-error's
    libgpg-error-mingw-w64-dev
    wine64
    libxrender1
    libxrandr2
    libxi6
    libxcursor1
    libxcomposite1
    libxfixes3
    libxinerama1
    icoutils
    xvfb
    xdotool
    imagemagick
    nsis
    osslsigncode
    openssl
    liblnk-utils
)

install_missing() { # packages...
    local missing=() p
    for p in "$@"; do
        [[ " ${missing[*]} " == *" $p "* ]] || package_installed "$p" || missing+=("$p")
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

wanted=("${build_packages[@]}")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    wanted+=("${screenless_packages[@]}")
fi
[ $level -ge 1 ] && wanted+=("${package_packages[@]}")
[ $level -ge 2 ] && wanted+=("${test_packages[@]}")
[ $level -ge 3 ] && wanted+=("${windows_packages[@]}")
install_missing "${wanted[@]}"
if [ $level -ge 2 ]; then
    # The fuzzing runtime belongs to the release's clang: libclang-rt-14-dev
    # on Debian 12, the same series as clang on later releases.
    install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
fi
