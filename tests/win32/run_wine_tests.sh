#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: a fresh prefix, one wineserver for all, a virtual X.
#   run_wine_tests.sh WIN_BUILD [ctest arguments...]
set -euo pipefail
win_build=$(cd "${1:?usage: run_wine_tests.sh WIN_BUILD [ctest arguments]}" && pwd)
shift
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$win_build" "$@"

here=$(cd "$(dirname "$0")" && pwd)
wine=$here/wine_run.sh
# Without Wine every step below would fail without a word: say it once.
if [ ! -x "${WINE64:-/usr/lib/wine/wine64}" ]; then
    echo "run_wine_tests.sh: Wine is not installed (${WINE64:-/usr/lib/wine/wine64}); make deps installs it" >&2
    exit 1
fi
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

# Wine's services are started here so that they do not hold ctest's output open.
start=$(date +%s)
"$wineserver" -p </dev/null >/dev/null 2>&1
timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1
# Without a window manager Wine waits two seconds for each managed window that goes away.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# Wine has no Courier New; its metric twin stands in.
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Courier New' /d 'Liberation Mono' /f </dev/null >/dev/null 2>&1
# A window open for the whole run keeps one desktop process, which would otherwise start with a
# test's first window and hold its output open until a while after the last one.
"$wine" notepad.exe </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do
    xwininfo -root -tree 2>/dev/null | grep -q -i 'notepad' && break
    sleep 0.1
done
echo "Wine prefix ready in $(($(date +%s) - start)) s: $WINEPREFIX"
cd "$win_build"
# Wine itself, not the program, has now and then failed a test once (start-up messages on a
# program's standard error): a test that fails is run once more, and both runs are shown.
"$here/../../tools/ctest_capped.sh" --timeout 300 --repeat until-pass:2 "$@"
