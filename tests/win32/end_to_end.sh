#!/usr/bin/env bash
# quarnel.exe as a user drives it under Wine, with the mouse and the keyboard (xdotool): Browse
# opens the bundled sample, two search and two replace patterns are typed, Search runs, Save
# writes the result. The saved file must hold exactly what quarnel-cli.exe prints for the same
# file and patterns. Run by run_wine_tests.sh, whose Wine prefix leaves windows unmanaged, so the
# main window sits at the screen's top-left corner and the positions below are its controls'.
#   end_to_end.sh WIN_BUILD SOURCE_DIR
set -uo pipefail

win_build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
wine_run=$(cd "$(dirname "$0")" && pwd)/wine_run.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-e2e.XXXXXX")
program=""
cleanup() {
    [ -n "$program" ] && kill "$program" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp "$source_dir/samples/sample.elf" "$work/sample.elf"
printf '03 00 09 24\r\nFF FF 42 24\r\n' >"$work/search.txt"
printf '63 00 09 24\r\n00 00 42 24\r\n' >"$work/replace.txt"
dos() { echo "Z:$(echo "$1" | tr / '\\')"; }

fail() {
    echo "FAIL: $*"
    exit 1
}

# Whether a window with this exact name is shown within `tries` twentieths of a second (or, with
# "gone", no longer is).
window_is() {
    local name=$1 want=$2 tries=$3
    for _ in $(seq "$tries"); do
        if xwininfo -root -tree 2>/dev/null | grep -q "\"$name\""; then
            [ "$want" = shown ] && return 0
        else
            [ "$want" = gone ] && return 0
        fi
        sleep 0.05
    done
    return 1
}
wait_window() {
    window_is "$1" "${2:-shown}" 300 || fail "window \"$1\" not ${2:-shown}"
}

click() { xdotool mousemove "$1" "$2" click 1; }
type_text() { xdotool type --delay 10 "$1"; }

# Answers the open file dialog with a path: select what the name box holds, type, confirm.
answer_dialog() {
    wait_window "$1"
    xdotool key ctrl+a
    type_text "$2"
    xdotool key Return
    wait_window "$1" gone
}

cd "$work"
"$wine_run" "$win_build/quarnel.exe" </dev/null >/dev/null 2>&1 &
program=$!
wait_window Quarnel

click 40 34 # Browse
answer_dialog Open "$(dos "$work/sample.elf")"
click 395 110 # the search box
type_text "03 00 09 24"
xdotool key Return
type_text "FF FF 42 24"
click 395 210 # the replace box
type_text "63 00 09 24"
xdotool key Return
type_text "00 00 42 24"
click 267 536 # Search
# Save is disabled while the search runs: click until its dialog opens.
for _ in $(seq 20); do
    click 331 536
    window_is "Save As" shown 20 && break
done
answer_dialog "Save As" "$(dos "$work/result.pnach")"

for _ in $(seq 200); do
    [ -s "$work/result.pnach" ] && break
    sleep 0.05
done
[ -s "$work/result.pnach" ] || fail "Save wrote no file"

"$wine_run" "$win_build/quarnel-cli.exe" --search search.txt --replace replace.txt sample.elf \
    >expected.txt 2>/dev/null
cmp -s expected.txt result.pnach || {
    diff <(od -c expected.txt) <(od -c result.pnach) | head -20
    fail "the saved result differs from quarnel-cli's"
}

# Closing the window ends the program.
click 300 300
xdotool key alt+F4
for _ in $(seq 200); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$program" 2>/dev/null && fail "quarnel.exe still runs after its window was closed"
program=""
echo "1 passed, 0 failed"
