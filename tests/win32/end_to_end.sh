#!/usr/bin/env bash
# quarnel.exe as a user drives it under Wine, with the mouse and the keyboard (xdotool): Browse
# opens the bundled sample, two search and two replace patterns are typed, Search runs, Save
# writes the result. The saved file must hold exactly what quarnel-cli.exe prints for the same
# file and patterns. Run by run_wine_tests.sh, whose Wine prefix leaves windows unmanaged, so the
# main window sits at the screen's top-left corner and the positions below are its controls'.
# With QUARNEL_SCREENSHOT set, the window with its result is also saved there as a PNG.
#   end_to_end.sh WIN_BUILD SOURCE_DIR
set -uo pipefail
win_build=$(cd "$1" && pwd)
wine_run=$(cd "$(dirname "$0")" && pwd)/wine_run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-e2e.XXXXXX")
program=""
trap '[ -n "$program" ] && kill "$program" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
cp "$2/samples/sample.elf" .
printf '03 00 09 24\r\nFF FF 42 24\r\n' >search.txt
printf '63 00 09 24\r\n00 00 42 24\r\n' >replace.txt
dos() { echo "Z:$(echo "$work/$1" | tr / '\\')"; }
fail() { echo "FAIL: $*" && exit 1; }
# Waits up to `tries` twentieths of a second for `condition` to hold.
wait_until() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}
shown() { xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""; }
gone() { ! shown "$1"; }
click() { xdotool mousemove "$1" "$2" click 1; }
type_lines() { # types each argument, Enter between them
    xdotool type --delay 10 "$1"
    shift
    for line in "$@"; do xdotool key Return type --delay 10 "$line"; done
}
# Answers the open file dialog with a path: select what the name box holds, type, confirm.
answer_dialog() {
    wait_until 600 shown "$1" || fail "no \"$1\" dialog"
    xdotool key ctrl+a
    type_lines "$2" ""
    wait_until 600 gone "$1" || fail "the \"$1\" dialog stays open"
}

"$wine_run" "$win_build/quarnel.exe" </dev/null >/dev/null 2>&1 &
program=$!
wait_until 1200 shown Quarnel || fail "no main window"
# A click that lands before the window takes input is lost: click Browse until Open shows.
# While a dialog is up its owner is disabled, so a second click cannot open another.
for _ in $(seq 20); do
    click 40 34
    wait_until 60 shown Open && break
done
answer_dialog Open "$(dos sample.elf)"
click 395 110 # the search box
type_lines "03 00 09 24" "FF FF 42 24"
click 395 210 # the replace box
type_lines "63 00 09 24" "00 00 42 24"
click 267 536 # Search
# Save is disabled while the search runs: click until its dialog opens.
for _ in $(seq 20); do
    click 331 536
    wait_until 20 shown "Save As" && break
done
answer_dialog "Save As" "$(dos result.pnach)"
wait_until 200 test -s result.pnach || fail "Save wrote no file"
"$wine_run" "$win_build/quarnel-cli.exe" --search search.txt --replace replace.txt sample.elf \
    >expected.txt 2>/dev/null
cmp -s expected.txt result.pnach || {
    diff <(od -c expected.txt) <(od -c result.pnach) | head -20
    fail "the saved result differs from quarnel-cli's"
}

if [ -n "${QUARNEL_SCREENSHOT:-}" ]; then
    sleep 1 # the picture only: let the window repaint where the dialog was
    geometry=$(xwininfo -name Quarnel | awk '/Absolute upper-left X/{x=$4}
        /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print w "x" h "+" x "+" y}')
    import -window root -crop "$geometry" +repage "$QUARNEL_SCREENSHOT"
    echo "$QUARNEL_SCREENSHOT ($geometry)"
fi

# Closing the window ends the program.
click 300 300
xdotool key alt+F4
wait_until 200 eval '! kill -0 "$program" 2>/dev/null' ||
    fail "quarnel.exe still runs after its window was closed"
program=""
echo "1 passed, 0 failed"
