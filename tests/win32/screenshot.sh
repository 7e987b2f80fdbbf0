#!/usr/bin/env bash
# Takes the picture of quarnel.exe under Wine and Xvfb that the README shows: the end-to-end run
# (the bundled sample opened through Browse, its two patterns searched, the PNACH lines saved)
# photographed once its result is in.
#   screenshot.sh WIN_BUILD OUTPUT.png
set -euo pipefail
QUARNEL_SCREENSHOT=$(realpath -m "$2") exec bash "$(dirname "$0")/run_wine_tests.sh" "$1" \
    -R '^win32_end_to_end$' --no-tests=error
