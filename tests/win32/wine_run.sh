#!/bin/sh
# Runs one Windows program under Wine; by hand, without run_wine_tests.sh, in a kept prefix.
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/quarnel-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" # no Mono or Gecko prompts
exec "${WINE64:-/usr/lib/wine/wine64}" "$@"
