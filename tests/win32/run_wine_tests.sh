#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: one fresh prefix for the whole run (its first start
# takes about ten seconds, every program after that a fraction of one), a persistent wineserver so
# that the programs do not each wait for a new one, and a virtual X display for the windows.
#   run_wine_tests.sh WIN_BUILD [ctest arguments...]
set -euo pipefail

win_build=$(cd "${1:?usage: run_wine_tests.sh WIN_BUILD [ctest arguments]}" && pwd)
shift

[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$win_build" "$@"

wine=$(cd "$(dirname "$0")" && pwd)/wine_run.sh
wineserver=$(dirname "${WINE64:-/usr/lib/wine/wine64}")/wineserver
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-wine.XXXXXX")
export WINEPREFIX

cleanup() {
    timeout 60 "$wineserver" -k >/dev/null 2>&1 || true
    timeout 60 "$wineserver" -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# Wine's own services must not hold the test runner's output open, or it would wait for them:
# start them here with their output on /dev/null.
start=$(date +%s)
"$wineserver" -p </dev/null >/dev/null 2>&1
timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1
# Without a window manager, Wine waits two seconds for every managed top-level window that goes
# away (a message box, the main window): the test windows are left unmanaged instead.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# Wine has no Courier New; its metric twin stands in, as it would on a desktop with it.
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Courier New' /d 'Liberation Mono' /f </dev/null >/dev/null 2>&1
# Wine's desktop process starts with the first window and ends a while after the last one has
# gone; started by a test, it would hold the runner's output open for those seconds. A window
# that stays open for the whole run keeps one desktop process alive from here.
"$wine" notepad.exe </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do
    xwininfo -root -tree 2>/dev/null | grep -q -i 'notepad' && break
    sleep 0.1
done
echo "Wine prefix ready in $(($(date +%s) - start)) s: $WINEPREFIX"

cd "$win_build"
ctest --output-on-failure --timeout 300 "$@"
