#!/usr/bin/env bash
# Builds Olvex Updater and runs every test through ctest: the normal build,
# then the same suite under AddressSanitizer+UndefinedBehaviorSanitizer, under
# ThreadSanitizer and built on Qt 6, then the Windows build under Wine
# (scripts/windows.sh; its programs and setup program signed with a throwaway
# certificate unless OLVEX_SIGN_PKCS12 names a real one); fuzzes the answer
# handling, the signature and key files, capture files and the telnet client
# for a minute between them; then builds the Debian package and checks it,
# installing and removing it on this machine (scripts/check-package.sh), and
# runs the Ansible recipe against this machine (scripts/check-ansible.sh).
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

if [ $quick -eq 1 ]; then
    scripts/setup.sh --tests
else
    scripts/setup.sh --windows
fi
. scripts/lib.sh

run_suite() { # build-dir, sanitizer, Qt major version, ctest arguments...
    local dir=$1 sanitizer=$2 qt=$3
    shift 3
    echo "== ${dir}${sanitizer:+ (sanitizer: $sanitizer)} (Qt $qt)"
    configure_build "$dir" -DSANITIZER="$sanitizer" -DOLVEX_QT_MAJOR="$qt"
    cmake --build "$dir" -j2
    run_tests "$dir" "$@"
}

# The fuzz targets under libFuzzer (clang), for a bounded time shared between
# them (half to the answers, a quarter to the signature and key files, a
# quarter to capture files and the telnet client), each from its seed corpus
# in tests/fuzz. Findings land in build-fuzz.
run_fuzz() {
    local dir=build-fuzz seconds=${OLVEX_FUZZ_SECONDS:-60} target share corpus
    echo "== $dir (libFuzzer, ${seconds} s)"
    CC=clang CXX=clang++ configure_build "$dir" -DOLVEX_FUZZ=ON -DBUILD_TESTING=ON
    cmake --build "$dir" --target fuzz_answers fuzz_signature fuzz_capture
    for target in answers signature capture; do
        share=$((seconds / 4)) corpus=corpus-$target
        if [ $target = answers ]; then
            share=$((seconds - 2 * (seconds / 4))) corpus=corpus
        fi
        mkdir -p "$dir/$corpus" "$dir/findings"
        if ! (cd "$dir/findings" && ../tests/fuzz/fuzz_$target -max_total_time="$share" -timeout=10 \
                ../$corpus ../../tests/fuzz/$corpus >../fuzz-$target.log 2>&1); then
            tail -n 40 "$dir/fuzz-$target.log"
            echo "fuzzing $target found a failure; the input is in $dir/findings" >&2
            return 1
        fi
        echo "fuzz_$target ($share s): $(grep -E '^Done [0-9]+ runs' "$dir/fuzz-$target.log" || true)"
    done
}

run_suite build "" 5 "$@"
if [ $quick -eq 0 ]; then
    run_suite build-asan "address;undefined" 5 "$@"
    run_suite build-tsan "thread" 5 "$@"
    run_suite build-qt6 "" 6 "$@"
    scripts/windows.sh --test-sign "$@"
    run_fuzz
    echo "== Debian package"
    scripts/check-package.sh
    echo "== Ansible (deploy/ansible)"
    scripts/check-ansible.sh
fi
