#!/usr/bin/env bash
# Remakes the Windows icon app/icons/ruvo_olvex.ico from the artwork
# app/icons/ruvo_olvex.png, after the artwork has changed. Safe to run again:
# the same artwork gives the same bytes (the ico_matches_artwork test checks
# that the committed icon is up to date).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
. scripts/lib.sh
build_targets build -j2 --target olvex-makeicon
build/tools/olvex-makeicon app/icons/ruvo_olvex.png --ico app/icons/ruvo_olvex.ico
echo "app/icons/ruvo_olvex.ico remade"
