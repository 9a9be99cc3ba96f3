# bash completion for the Trovario tools; installed once under each tool's name.

_trovario_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

_trovario_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

_trovario_agent() {
    _trovario_words "--foreground --verbose --help" "${COMP_WORDS[COMP_CWORD]}"
}

_trovarioctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local i=1
    [[ ${COMP_WORDS[1]} == --verbose || ${COMP_WORDS[1]} == -v ]] && i=2
    if ((COMP_CWORD <= i)); then
        _trovario_words "install-capture-device menu process quit send silence start status stop time-limit
                         --help $( ((i == 1)) && echo --verbose)" "$cur"
        return
    fi
    case ${COMP_WORDS[i]} in
    install-capture-device) _trovario_words "--persist --help" "$cur" ;;
    menu)
        if [[ $prev == click ]]; then
            _trovario_words "open capture" "$cur"
        elif ((COMP_CWORD == i + 1)); then
            _trovario_words "show hide click --help" "$cur"
        fi
        ;;
    process)
        if [[ $cur == -* ]]; then _trovario_words "--wait --help" "$cur"; else _trovario_files "$cur"; fi
        ;;
    silence)
        [[ $prev == --threshold || $prev == --length ]] || _trovario_words "--threshold --length --help" "$cur"
        ;;
    status) _trovario_words "--json --help" "$cur" ;;
    stop) _trovario_words "--wait --help" "$cur" ;;
    *) _trovario_words "--help" "$cur" ;;
    esac
}

_trovario_catalog() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local i=1
    [[ ${COMP_WORDS[1]} == --catalog ]] && i=3
    if [[ $prev == --catalog ]]; then
        _trovario_files "$cur"
        return
    fi
    if ((COMP_CWORD <= i)); then
        _trovario_words "add identify list prune remove stats --help $( ((i == 1)) && echo --catalog)" "$cur"
        return
    fi
    case ${COMP_WORDS[i]} in
    add | remove) _trovario_files "$cur" ;;
    identify)
        if [[ $prev == --start ]]; then return; fi
        if [[ $cur == -* ]]; then _trovario_words "--start --json --help" "$cur"; else _trovario_files "$cur"; fi
        ;;
    list) _trovario_words "--json --help" "$cur" ;;
    *) _trovario_words "--help" "$cur" ;;
    esac
}

_trovario_record() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
    --out) _trovario_files "$cur" ;;
    --pause-at | --resume-at) ;;
    *) [[ $cur == -* ]] && _trovario_words "--pause-at --resume-at --out --verbose --help" "$cur" ;;
    esac
}

_trovario_define() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
    --sensitivity | --silence-ms) ;;
    *)
        if [[ $cur == -* ]]; then
            _trovario_words "--sensitivity --silence-ms --json --verbose --help" "$cur"
        else
            _trovario_files "$cur"
        fi
        ;;
    esac
}

complete -F _trovario_agent trovario-agent
complete -F _trovarioctl trovarioctl
complete -F _trovario_catalog trovario-catalog
complete -F _trovario_record trovario-record
complete -F _trovario_define trovario-define
