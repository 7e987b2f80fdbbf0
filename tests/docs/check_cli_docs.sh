#!/usr/bin/env bash
# The manual pages and the bash completion against what quarnel-cli itself says in --help, so
# that neither drifts when an option is added: every `--option` of one is in the other, and an
# option shown as `--name a|b|c` completes to exactly those values.
#   check_cli_docs.sh man|completion QUARNEL_CLI SOURCE_DIR
set -uo pipefail
what=${1:?usage: check_cli_docs.sh man|completion QUARNEL_CLI SOURCE_DIR}
cli=${2:?}
src=${3:?}
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

help=$("$cli" --help) || {
    echo "FAIL: $cli --help did not succeed"
    exit 1
}
# Every --option token of a text, one per line, sorted.
options_of() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }
# Subcommands: the word after "quarnel-cli" on a usage line, when it is not an option.
commands_of() { grep -o 'quarnel-cli [a-z][a-z0-9-]*' | sed 's/^quarnel-cli //' | sort -u; }
# A manual page's source as text: roff's escaped dashes and font changes taken out.
man_text() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\(aq/'"'"'/g' "$1"; }
help_options=$(options_of <<<"$help")
help_commands=$(commands_of <<<"$help")
# Each subcommand's own --help; the manual page documents their options as well.
all_help=$help
for c in $help_commands; do
    all_help+=$'\n'$("$cli" "$c" --help) || fail "quarnel-cli $c --help did not succeed"
done
all_options=$(options_of <<<"$all_help")
[ -n "$help_options" ] || fail "no option found in --help"

# Differences between two sorted lists, named for the message.
compare() {
    local name_a=$1 a=$2 name_b=$3 b=$4 what=$5
    local only
    only=$(comm -23 <(echo "$a") <(echo "$b") | tr '\n' ' ')
    [ -z "${only// /}" ] || fail "$what in $name_a but not in $name_b: $only"
}

case $what in
man)
    page=$src/cli/quarnel-cli.1
    page_options=$(man_text "$page" | options_of)
    page_commands=$(man_text "$page" | commands_of)
    compare "--help" "$all_options" "cli/quarnel-cli.1" "$page_options" options
    compare "cli/quarnel-cli.1" "$page_options" "--help" "$all_options" options
    compare "--help" "$help_commands" "cli/quarnel-cli.1" "$page_commands" subcommands
    compare "cli/quarnel-cli.1" "$page_commands" "--help" "$help_commands" subcommands
    # The window takes no options: its page points to the command line instead.
    window_options=$(man_text "$src/app/quarnel.1" | options_of)
    [ -z "$window_options" ] || fail "app/quarnel.1 names options: $window_options"
    grep -q 'quarnel\\-cli (1)' "$src/app/quarnel.1" || fail "app/quarnel.1 does not point to quarnel-cli(1)"
    # Both pages format without a warning, as lintian checks them.
    if command -v man >/dev/null; then
        for page in "$src/cli/quarnel-cli.1" "$src/app/quarnel.1"; do
            warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
            [ -z "$warnings" ] || fail "$page: $warnings"
        done
    else
        echo "man is not installed: the pages' formatting is not checked"
    fi
    ;;
completion)
    # shellcheck source=/dev/null
    source "$src/cli/quarnel-cli.bash" || fail "the completion does not load"
    # Completes the command line "$@" (the last word is the one being typed) into $reply.
    complete_line() {
        COMP_WORDS=(quarnel-cli "$@")
        COMP_CWORD=$#
        COMPREPLY=(left-over)
        _quarnel_cli
        reply=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u)
    }
    complete_line -
    compare "--help" "$help_options" "the completion" "$reply" options
    compare "the completion" "$reply" "--help" "$help_options" options
    complete_line ""
    first_words=$reply
    for c in $help_commands; do
        grep -qx -- "$c" <<<"$first_words" || fail "subcommand $c is not completed"
        # After the subcommand, exactly its own options.
        sub_help=$("$cli" "$c" --help)
        complete_line "$c" -
        compare "$c --help" "$(options_of <<<"$sub_help")" "the completion of $c" "$reply" options
        compare "the completion of $c" "$reply" "$c --help" "$(options_of <<<"$sub_help")" options
    done

    # Values: "--name a|b|c" in --help completes to a, b and c, also written --name=.
    while read -r option choices; do
        want=$(tr '|' '\n' <<<"$choices" | sort -u)
        complete_line "$option" ""
        [ "$reply" == "$want" ] || fail "$option completes to '$(echo $reply)', not '$(echo $want)'"
        first=$(head -n 1 <<<"$want")
        complete_line "$option=${first:0:1}"
        grep -qx -- "$first" <<<"$reply" || fail "$option=${first:0:1} does not complete to $first"
        complete_line "$option" "=" ""
        [ "$reply" == "$want" ] || fail "$option= (split at =) completes to '$(echo $reply)'"
    done < <(grep -o -- '--[a-z][a-z0-9-]* [a-z0-9]\+|[a-z0-9|]*' <<<"$help" | sort -u)

    # File arguments: an option's FILE (or ELF, LIST, IMAGE, OUT) and the ELF complete file
    # names.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    touch "$scratch/GAME.ELF"
    cd "$scratch" || exit 1
    # Plain bash, then with the bash-completion package's helpers where it is installed.
    for helpers in "" /usr/share/bash-completion/bash_completion; do
        if [ -n "$helpers" ]; then
            [ -f "$helpers" ] || continue
            # shellcheck source=/dev/null
            source "$helpers"
        fi
        complete_line G
        [ "$reply" == "GAME.ELF" ] || fail "the ELF argument completes to '$reply', not GAME.ELF ${helpers:+(with $helpers)}"
        while read -r option; do
            complete_line "$option" G
            [ "$reply" == "GAME.ELF" ] || fail "$option completes to '$reply', not a file name ${helpers:+(with $helpers)}"
        done < <(grep -o -- '--[a-z][a-z0-9-]* \(FILE\|ELF\|LIST\|IMAGE\)' <<<"$help" | cut -d' ' -f1 | sort -u)
        for c in $help_commands; do
            while read -r option; do
                complete_line "$c" "$option" G
                [ "$reply" == "GAME.ELF" ] || fail "$c $option completes to '$reply', not a file name ${helpers:+(with $helpers)}"
            done < <("$cli" "$c" --help | grep -o -- '--[a-z][a-z0-9-]* \(FILE\|OLD\|OUT\)' | cut -d' ' -f1 | sort -u)
        done
    done
    ;;
*)
    echo "usage: check_cli_docs.sh man|completion QUARNEL_CLI SOURCE_DIR"
    exit 2
    ;;
esac
[ $failed -eq 0 ] && echo "ok"
exit $failed
