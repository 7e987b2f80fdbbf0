#!/usr/bin/env bash
# quarnel-cli.exe under Wine against quarnel-cli on Linux: the same arguments, files and standard
# input must give the same standard output (or --output file) byte for byte, the same exit status
# and the same message on standard error.
#   cli_compare.sh WINDOWS_CLI LINUX_CLI SOURCE_DIR
set -uo pipefail
win_cli=$1
linux_cli=$2
wine_run=$(cd "$(dirname "$0")" && pwd)/wine_run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-cli-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$3"/samples/{sample.elf,search.txt,replace.txt} .
: >empty.txt
printf '03 00 09 24\r\nFF FF 42 24\r\n' >search-crlf.txt
printf '63 00 09\n00 00 42 24\nxx xx 08 3C\n' >replace-short.txt
printf '\x7fELF' >truncated.elf
printf '03 00 09 24\n\x00FF FF 42 24\n' >search-nul.txt # a NUL ends the text

# One case a line: the arguments, after "<FILE" for standard input; {out} names the file that
# --output writes, compared as well; the last line, empty, gives no arguments. Besides every
# combination of the options, the cases are those where the platforms may differ: text and binary
# streams, standard input, the system's file errors, a device as the output (NUL, on Windows),
# the usage text.
cases() {
    printf -- '--format %s --search search.txt sample.elf\n' \
        {address,offset}' --endian '{big,little}' --align '{byte,half,word}' --range '{exec,data}
    printf -- '--format %s --search search.txt --replace replace.txt sample.elf\n' \
        {pnach,raw}' --endian '{big,little}' --align '{word,byte}
    cat <<'EOF'
--search search.txt --replace replace.txt sample.elf
--format address --search search-crlf.txt sample.elf
--format address --search search-nul.txt sample.elf
--checksum sample.elf
--version
--help
<search.txt --format address --search - sample.elf
<replace.txt --search search.txt --replace - sample.elf
<search-crlf.txt --format offset --search - sample.elf
--search search.txt --replace replace.txt --output {out} sample.elf
--format address --output {out} --search search.txt sample.elf
--format address --output NUL --search search.txt sample.elf
--format address --search search.txt truncated.elf
--format address --search search.txt missing.elf
--format address --search missing.txt sample.elf
--format address --search empty.txt sample.elf
--search search.txt --replace replace-short.txt sample.elf
--checksum search.txt
--bogus

EOF
}

# Runs one program with the case's arguments into NAME.out, NAME.err and NAME.file.
run() {
    local name=$1
    shift
    : >"$name.file"
    "$@" "${args[@]//\{out\}/$name.file}" <"$input" >"$name.out" 2>"$name.err"
}

failures=0 cases=0
while IFS= read -r line; do
    cases=$((cases + 1)) input=/dev/null
    [[ $line == '<'* ]] && input=${line%% *} input=${input#<} line=${line#* }
    read -r -a args <<<"$line"
    run linux "$linux_cli"
    linux_status=$?
    run windows "$wine_run" "$win_cli"
    windows_status=$?
    problem=""
    [ "$linux_status" = "$windows_status" ] ||
        problem="exit status $linux_status on Linux, $windows_status on Windows"
    cmp -s linux.out windows.out || problem="$problem; standard output differs"
    cmp -s linux.file windows.file || problem="$problem; the --output files differ"
    # Standard error is a text stream: Windows ends its lines in CR LF.
    tr -d '\r' <windows.err | cmp -s linux.err - || problem="$problem; standard error differs"
    if [ -n "$problem" ]; then
        failures=$((failures + 1))
        echo "FAIL: quarnel-cli $line <$input: ${problem#; }"
        diff <(od -c linux.out | head -20) <(od -c windows.out | head -20) | head -20
        diff linux.err <(tr -d '\r' <windows.err) | head -10
    fi
done < <(cases)

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
