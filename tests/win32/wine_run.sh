#!/bin/sh
# Runs one Windows program under Wine: the emulator of the Windows build's tests.
# The test driver (run_wine_tests.sh) sets WINEPREFIX to a fresh prefix of its own; run by hand,
# a prefix under /tmp is made once and kept for the user.
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/quarnel-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts: the programs need neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "${WINE64:-/usr/lib/wine/wine64}" "$@"
