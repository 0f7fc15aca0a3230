#!/usr/bin/env bash
# Builds Olvex Updater and runs every test through ctest: the normal build,
# then the same suite under AddressSanitizer+UndefinedBehaviorSanitizer, under
# ThreadSanitizer and built on Qt 6; then builds the Debian package and checks
# it, installing and removing it on this machine (scripts/check-package.sh).
# Installs what is missing first (Debian, apt-get).
#
#   scripts/test.sh              everything
#   scripts/test.sh --quick      the normal build only
#   scripts/test.sh -R tst_frame extra arguments go to ctest
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi

scripts/setup.sh
. scripts/lib.sh

run_suite() { # build-dir, sanitizer, Qt major version, ctest arguments...
    local dir=$1 sanitizer=$2 qt=$3
    shift 3
    echo "== ${dir}${sanitizer:+ (sanitizer: $sanitizer)} (Qt $qt)"
    cmake -S . -B "$dir" $(generator "$dir") -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSANITIZER="$sanitizer" -DOLVEX_QT_MAJOR="$qt" >/dev/null
    cmake --build "$dir" -j2
    ctest --test-dir "$dir" --output-on-failure -j2 "$@"
}

run_suite build "" 5 "$@"
if [ $quick -eq 0 ]; then
    run_suite build-asan "address;undefined" 5 "$@"
    run_suite build-tsan "thread" 5 "$@"
    run_suite build-qt6 "" 6 "$@"
    echo "== Debian package"
    scripts/check-package.sh
fi
