#!/usr/bin/env bash
# quarnel-cli.exe under Wine against quarnel-cli on Linux: the same arguments, files and standard
# input must give the same standard output byte for byte, the same exit status and the same
# message on standard error.
#   cli_compare.sh WINDOWS_CLI LINUX_CLI SOURCE_DIR
set -uo pipefail

win_cli=$1
linux_cli=$2
source_dir=$3
wine_run=$(cd "$(dirname "$0")" && pwd)/wine_run.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-cli-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

cp "$source_dir/samples/sample.elf" sample.elf
cp "$source_dir/samples/search.txt" search.txt
cp "$source_dir/samples/replace.txt" replace.txt
: >empty.txt
printf '03 00 09 24\r\nFF FF 42 24\r\n' >search-crlf.txt
printf '63 00 09 24\n' >replace-one.txt
printf '63 00 09\n00 00 42 24\nxx xx 08 3C\n' >replace-short.txt
printf 'zz not hex\n' >garbage.txt
printf '3C\n' >search-byte.txt
printf '\x7fELF' >truncated.elf
# Every byte value through the pattern reader: a NUL ends the text.
printf '03 00 09 24\n\x00FF FF 42 24\n' >search-nul.txt

failures=0
cases=0

# Runs both programs with the arguments (and standard input from $stdin_file when set).
compare() {
    cases=$((cases + 1))
    local input=${stdin_file:-/dev/null}
    "$linux_cli" "$@" <"$input" >linux.out 2>linux.err
    local linux_status=$?
    "$wine_run" "$win_cli" "$@" <"$input" >windows.out 2>windows.err
    local windows_status=$?
    local problem=""
    [ "$linux_status" = "$windows_status" ] ||
        problem="exit status $linux_status on Linux, $windows_status on Windows"
    cmp -s linux.out windows.out || problem="$problem; standard output differs"
    # Standard error is a text stream: Windows ends its lines in CR LF.
    tr -d '\r' <windows.err >windows.err.lf
    cmp -s linux.err windows.err.lf || problem="$problem; standard error differs"
    if [ -n "$problem" ]; then
        failures=$((failures + 1))
        echo "FAIL: quarnel-cli $* ${stdin_file:+< $stdin_file}: ${problem#; }"
        diff <(od -c linux.out | head -20) <(od -c windows.out | head -20) | head -20
        diff linux.err windows.err.lf | head -10
    fi
}

# Output written to --output must be the same file.
compare_output_file() {
    cases=$((cases + 1))
    rm -f linux.txt windows.txt
    "$linux_cli" "$@" --output linux.txt </dev/null >/dev/null 2>&1
    "$wine_run" "$win_cli" "$@" --output windows.txt </dev/null >/dev/null 2>&1
    if ! cmp -s linux.txt windows.txt; then
        failures=$((failures + 1))
        echo "FAIL: quarnel-cli $* --output: the files differ"
    fi
}

for format in address offset; do
    for endian in big little; do
        for align in byte half word; do
            for range in exec data; do
                compare --format "$format" --endian "$endian" --align "$align" \
                    --range "$range" --search search.txt sample.elf
            done
        done
    done
done
for format in pnach raw; do
    for endian in big little; do
        compare --format "$format" --endian "$endian" --search search.txt \
            --replace replace.txt sample.elf
        compare --format "$format" --endian "$endian" --align byte --search search.txt \
            --replace replace.txt sample.elf
    done
done
compare --search search.txt --replace replace.txt sample.elf
compare --format address --search search-crlf.txt sample.elf
compare --format address --search search-nul.txt sample.elf
compare --format offset --align byte --search search-byte.txt sample.elf
compare --checksum sample.elf
compare --version
compare --help

stdin_file=search.txt compare --format address --search - sample.elf
stdin_file=replace.txt compare --search search.txt --replace - sample.elf
stdin_file=search-crlf.txt compare --format offset --search - sample.elf
unset stdin_file
compare_output_file --search search.txt --replace replace.txt sample.elf
compare_output_file --format address --search search.txt sample.elf

# Failures: the messages and exit statuses, in the order the checks are made.
compare --format address --search search.txt search.txt
compare --format address --search search.txt truncated.elf
compare --format address --search search.txt missing.elf
compare --format address --search missing.txt sample.elf
compare --format address --search empty.txt sample.elf
compare --format address --search garbage.txt sample.elf
compare --search search.txt sample.elf
compare --search search.txt --replace replace-one.txt sample.elf
compare --search search.txt --replace replace-short.txt sample.elf
compare --format raw --search search-byte.txt --replace search-byte.txt sample.elf
compare --checksum search.txt
compare --format word --search search.txt sample.elf
compare --search search.txt
compare --bogus
compare

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
