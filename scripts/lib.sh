# shellcheck shell=bash
# Shared by the scripts. Ninja for a new build folder; an existing one keeps
# the generator it was made with.
generator() {
    [ -f "$1/CMakeCache.txt" ] || echo "-G Ninja"
}

# Configures a build folder, RelWithDebInfo unless the arguments, which go to
# cmake, say otherwise. Every script configures its builds through this.
configure_build() { # build-dir, cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" $(generator "$dir") -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# Configures a build folder as RelWithDebInfo and builds in it; the rest of
# the arguments go to cmake --build (-j2, --target NAME...).
build_targets() { # build-dir, cmake --build arguments...
    local dir=$1
    shift
    configure_build "$dir"
    cmake --build "$dir" "$@"
}

# Runs the tests of a build folder through ctest; the rest of the arguments
# go to ctest. The tests spend nearly all their time waiting out the line's
# real pauses and time-outs (all of a suite together keeps a core busy for a
# few per cent of its run), so three run at once for every core.
run_tests() { # build-dir, ctest arguments...
    local dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure -j"$((3 * $(nproc)))" "$@"
}

# What goes in front of a command that needs root: nothing for root, sudo for
# anyone else. Fails when neither is possible.
root_prefix() {
    [ "$(id -u)" -eq 0 ] && return 0
    command -v sudo >/dev/null 2>&1 || return 1
    echo sudo
}

# Whether the Debian package is installed.
package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
