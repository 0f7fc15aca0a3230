#!/usr/bin/env bash
# Builds Olvex Updater and starts it. Installs what building and running need
# first, if missing (Debian, scripts/setup.sh).
#
#   scripts/run.sh          the app when a USB serial adapter is plugged in,
#                           otherwise the demo on a simulated line
#   scripts/run.sh --app    the app itself
#   scripts/run.sh --demo   the demo (olvex-demo), whatever is plugged in
set -euo pipefail
cd "$(dirname "$0")/.."

mode=auto
case "${1:-}" in
    "") ;;
    --app) mode=app ;;
    --demo) mode=demo ;;
    *) echo "usage: scripts/run.sh [--app|--demo]" >&2; exit 2 ;;
esac

scripts/setup.sh
. scripts/lib.sh
build_targets build --target olvex-updater olvex-demo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display to open the window on; run it under a virtual one: xvfb-run -a scripts/run.sh $*"
    exit 1
fi

if [ "$mode" = auto ]; then
    if compgen -G "/dev/ttyUSB*" >/dev/null || compgen -G "/dev/ttyACM*" >/dev/null; then
        mode=app
    else
        mode=demo
        echo "No USB serial adapter found: starting the demo on a simulated line (scripts/run.sh --app for the app itself)."
    fi
fi

if [ "$mode" = app ]; then
    exec build/olvex-updater
fi
exec build/demo/olvex-demo
