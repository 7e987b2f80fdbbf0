#!/usr/bin/env bash
# quarnel-cli.exe under Wine against quarnel-cli on Linux where the platforms may differ: text and
# binary streams, standard input, a device as the output (NUL on Windows), the usage. The output,
# the --output file, standard error and the exit status must be the same.
#   cli_compare.sh WINDOWS_CLI LINUX_CLI SOURCE_DIR
set -uo pipefail
win_cli=$1 linux_cli=$2
wine_run=$(cd "$(dirname "$0")" && pwd)/wine_run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-cli-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$3"/samples/{sample.elf,search.txt,replace.txt} .
printf '03 00 09 24\r\nFF FF 42 24\r\n' >search-crlf.txt
printf '03 00 09 24\n\x00FF FF 42 24\n' >search-nul.txt # a NUL ends the text

# One case a line: "<FILE" first gives the standard input; {out} names the --output file, compared
# as well; the last line, empty, gives no arguments.
cases() {
    printf -- '--format %s --align byte --search search.txt --replace replace.txt sample.elf\n' \
        {address,offset,pnach,raw}' --endian '{big,little}
    cat <<'CASES'
--format address --search search-crlf.txt sample.elf
--format address --search search-nul.txt sample.elf
--help
<search.txt --format address --search - sample.elf
<replace.txt --search search.txt --replace - sample.elf
<search-crlf.txt --format offset --search - sample.elf
--search search.txt --replace replace.txt --output {out} sample.elf
--format address --output NUL --search search.txt sample.elf
--bogus

CASES
}

failures=0 cases=0
while IFS= read -r line; do
    cases=$((cases + 1)) input=/dev/null
    [[ $line == '<'* ]] && input=${line%% *} input=${input#<} line=${line#* }
    read -r -a args <<<"$line"
    : >linux.file >windows.file
    "$linux_cli" "${args[@]//\{out\}/linux.file}" <"$input" >linux.out 2>linux.err
    echo "exit status $?" >>linux.err
    "$wine_run" "$win_cli" "${args[@]//\{out\}/windows.file}" <"$input" >windows.out 2>windows.crlf
    echo "exit status $?" >>windows.crlf
    tr -d '\r' <windows.crlf >windows.err # a text stream: Windows ends its lines in CR LF
    for part in out file err; do
        cmp -s linux.$part windows.$part && continue
        failures=$((failures + 1))
        echo "FAIL: quarnel-cli $line <$input: the $part differs, Linux then Windows:"
        diff <(od -c linux.$part) <(od -c windows.$part) | head -20
        break
    done
done < <(cases)
echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
