#!/usr/bin/env bash
# Takes the picture of build-win/quarnel.exe under Wine and Xvfb that the README shows:
#   screenshot.sh WIN_BUILD OUTPUT.png
set -euo pipefail
win_build=$(cd "$1" && pwd)
output=$(realpath -m "$2")
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 800x700x24" "$0" "$win_build" "$output"
fi
export WINE64=${WINE64:-/usr/lib/wine/wine64}
wineserver=$(dirname "$WINE64")/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-wine.XXXXXX")
export WINEPREFIX
trap '"$wineserver" -k >/dev/null 2>&1 || true; "$wineserver" -w >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
"$wineserver" -p </dev/null >/dev/null 2>&1
"$WINE64" wineboot -i </dev/null >/dev/null 2>&1
# Unmanaged, Wine draws the frame and the caption with the program's icon itself.
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
cd "$win_build"
"$WINE64" quarnel.exe </dev/null >/dev/null 2>&1 &
for _ in $(seq 200); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Quarnel"' && break
    sleep 0.1
done
sleep 2 # let the controls paint
geometry=$(xwininfo -name Quarnel | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /Width/{w=$2} /Height/{h=$2} END{print w "x" h "+" x "+" y}')
import -window root -crop "$geometry" +repage "$output"
echo "$output ($geometry)"
