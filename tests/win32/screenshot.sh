#!/usr/bin/env bash
# The README's picture of quarnel.exe under Wine, taken by the end-to-end run once its result is in.
#   screenshot.sh WIN_BUILD OUTPUT.png
set -euo pipefail
QUARNEL_SCREENSHOT=$(realpath -m "$2") exec bash "$(dirname "$0")/run_wine_tests.sh" "$1" \
    -R '^win32_end_to_end$' --no-tests=error
