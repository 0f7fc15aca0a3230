#!/usr/bin/env bash
# Builds and runs the benchmark: the worker's time against the line's floor
# for an update and for searches, the table fill, and the GUI thread's longest
# stall, and the check of a signed image. About seven minutes. The product's
# debug log goes to build/bench.log.
#
#   scripts/bench.sh [update|search|crowd|collide|table|stall|signature|all|cli|network]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
. scripts/lib.sh
build_targets build --target olvex-bench
build/bench/olvex-bench "${1:-all}" 2>build/bench.log
