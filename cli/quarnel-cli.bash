# bash completion for quarnel-cli.
# tests/docs checks the table below against `quarnel-cli --help`: every option there is offered
# here, and an option shown as `--name a|b|c` offers exactly those values.

_quarnel_cli() {
    local cur prev
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=""
    [[ $COMP_CWORD -gt 0 ]] && prev=${COMP_WORDS[COMP_CWORD - 1]}

    # Subcommands, offered as the first word.
    local commands="port apply"
    # Options without a value, and options with a value: the words to choose from, or @file /
    # @dir for a path. A subcommand has options of its own.
    local flags
    local -A values
    case ${COMP_WORDS[1]-} in
    port)
        flags="--help"
        values=([--from]=@file [--patches]=@file [--output]=@file)
        ;;
    apply)
        flags="--help"
        values=([--patches]=@file [--output]=@file)
        ;;
    *)
        flags="--checksum --help --version --pnach-file"
        values=(
            [--endian]="big little"
            [--align]="byte half word"
            [--range]="exec data"
            [--format]="address offset pnach raw"
            [--search]=@file
            [--replace]=@file
            [--output]=@file
            [--output-dir]=@dir
            [--files-from]=@file
            [--boot]=@file
            [--extract]=@file
        )
        ;;
    esac

    # "--name=value" is completed after the "=". bash splits at "=" when it is one of
    # COMP_WORDBREAKS (the default): then the option is two words back.
    local option="" value=$cur
    if [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        value=${cur#*=}
    elif [[ $cur == "=" && $COMP_CWORD -gt 1 ]]; then
        option=$prev
        value=""
    elif [[ $prev == "=" && $COMP_CWORD -gt 1 ]]; then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ -n ${values[$prev]+set} ]]; then
        option=$prev
    fi

    if [[ -n $option && -n ${values[$option]+set} ]]; then
        local kind=${values[$option]}
        if [[ $kind == @file || $kind == @dir ]]; then
            _quarnel_cli_paths "$value" "$kind"
        else
            mapfile -t COMPREPLY < <(compgen -W "$kind" -- "$value")
        fi
        return 0
    fi

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$flags ${!values[*]}" -- "$cur")
        # An option with a value is usually followed by it: no space after "--name=".
        return 0
    fi
    if [[ $COMP_CWORD -eq 1 && -n $commands ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    fi
    # ELF files and every other argument: file names.
    local more=("${COMPREPLY[@]}")
    _quarnel_cli_paths "$cur" @file
    COMPREPLY=("${more[@]}" "${COMPREPLY[@]}")
    return 0
}

# File or folder names for `word` into COMPREPLY, through bash-completion's _filedir when it is
# loaded (quoting, ~ and folders as it does everywhere), through compgen otherwise.
_quarnel_cli_paths() {
    local word=$1 kind=$2
    if declare -F _filedir >/dev/null; then
        local cur=$word
        COMPREPLY=()
        if [[ $kind == @dir ]]; then _filedir -d; else _filedir; fi
        return
    fi
    compopt -o filenames 2>/dev/null
    if [[ $kind == @dir ]]; then
        mapfile -t COMPREPLY < <(compgen -d -- "$word")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$word")
    fi
}

complete -F _quarnel_cli quarnel-cli quarnel-cli.exe
