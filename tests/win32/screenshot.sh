#!/usr/bin/env bash
# Takes the picture of build-win/quarnel.exe under Wine and Xvfb that the README shows: the
# bundled sample opened through Browse, its two patterns searched, the PNACH lines in the result.
#   screenshot.sh WIN_BUILD OUTPUT.png
set -euo pipefail
win_build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
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
# Wine has no Courier New; its metric twin stands in, as it would on a desktop with it.
"$WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Courier New' /d 'Liberation Mono' /f </dev/null >/dev/null 2>&1
cd "$win_build"
"$WINE64" quarnel.exe </dev/null >/dev/null 2>&1 &
for _ in $(seq 200); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Quarnel"' && break
    sleep 0.1
done
sleep 2 # let the controls paint

# As a user would: Browse, the sample's path, two search and two replace patterns, Search.
# Positions are screen pixels of the unmanaged window at the top-left corner.
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.5; }
sample="Z:$(echo "$source_dir/samples/sample.elf" | tr / '\\')"
click 40 34
xdotool type --delay 20 "$sample"
xdotool key Return
sleep 1
click 395 110
xdotool type --delay 20 "03 00 09 24"
xdotool key Return
xdotool type --delay 20 "FF FF 42 24"
click 395 210
xdotool type --delay 20 "63 00 09 24"
xdotool key Return
xdotool type --delay 20 "00 00 42 24"
click 267 536
sleep 1
geometry=$(xwininfo -name Quarnel | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /Width/{w=$2} /Height/{h=$2} END{print w "x" h "+" x "+" y}')
import -window root -crop "$geometry" +repage "$output"
echo "$output ($geometry)"
