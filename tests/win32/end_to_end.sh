#!/usr/bin/env bash
# quarnel.exe driven under Wine with mouse and keyboard must save what quarnel-cli.exe prints; its
# window, unmanaged (run_wine_tests.sh), sits at the top-left corner. QUARNEL_SCREENSHOT=FILE.png
# also saves a picture of the window with its result.
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
wait_until() { # TRIES (twentieths of a second) COMMAND...
    for _ in $(seq "$1"); do "${@:2}" && return 0 || sleep 0.05; done
    return 1
}
shown() { xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""; }
gone() { ! shown "$1"; }
click() { xdotool mousemove "$1" "$2" click 1; }
type_lines() { # Enter between the lines
    xdotool type --delay 10 "$1"
    for line in "${@:2}"; do xdotool key Return type --delay 10 "$line"; done
}
# A click that lands before the window takes input is lost: click until the dialog shows (its
# owner is then disabled, so no second dialog opens), then answer it with a path.
open_dialog() { # X Y TITLE PATH
    for _ in $(seq 20); do
        click "$1" "$2"
        wait_until 60 shown "$3" && break
    done
    wait_until 600 shown "$3" || fail "no \"$3\" dialog"
    xdotool key ctrl+a
    type_lines "$4" ""
    wait_until 600 gone "$3" || fail "the \"$3\" dialog stays open"
}

"$wine_run" "$win_build/quarnel.exe" </dev/null >/dev/null 2>&1 &
program=$!
wait_until 1200 shown Quarnel || fail "no main window"
open_dialog 40 34 Open "$(dos sample.elf)" # Browse
click 395 110 # the search box
type_lines "03 00 09 24" "FF FF 42 24"
click 395 210 # the replace box
type_lines "63 00 09 24" "00 00 42 24"
click 267 536 # Search; Save stays disabled while it runs
open_dialog 331 536 "Save As" "$(dos result.pnach)"
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

click 300 300
xdotool key alt+F4
wait_until 200 eval '! kill -0 "$program" 2>/dev/null' || fail "quarnel.exe runs on after alt+F4"
program=""
echo "1 passed, 0 failed"
