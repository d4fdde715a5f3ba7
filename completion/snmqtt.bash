# bash completion for snmqtt
# The names of the --target options already on the line, for --port.
_snmqtt_targets()
{
    local i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        [ "${COMP_WORDS[i]}" = --target ] || continue
        word="${COMP_WORDS[i+1]}"
        # --target=NAME=... and NAME=... split at '=' by COMP_WORDBREAKS
        [ "$word" = "=" ] && word="${COMP_WORDS[i+2]}"
        word="${word%%=*}"
        [ -n "$word" ] && echo "$word"
    done
}

_snmqtt()
{
    local cur prev name word
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        --broker) COMPREPLY=( $(compgen -W "mqtt://127.0.0.1:1883 mqtts://" -- "$cur") ); return ;;
        --base-topic) COMPREPLY=( $(compgen -W "snlib" -- "$cur") ); return ;;
        --discovery-prefix) COMPREPLY=( $(compgen -W "homeassistant" -- "$cur") ); return ;;
        --interval) COMPREPLY=( $(compgen -W "0.5 1 2 5 10 60" -- "$cur") ); return ;;
        --max-age) COMPREPLY=( $(compgen -W "60 300 3600" -- "$cur") ); return ;;
        --max-rate) COMPREPLY=( $(compgen -W "10 100 1000" -- "$cur") ); return ;;
        --port)
            # NAME/P: no file name expansion of NAME/*.
            COMPREPLY=()
            for name in $(_snmqtt_targets); do
                while IFS= read -r word; do COMPREPLY+=("$word"); done \
                    < <(compgen -W "$name/0 $name/1 $name/2 $name/\\*" -- "$cur")
            done
            return ;;
        --password-file|--cafile|--cert|--key) COMPREPLY=( $(compgen -f -- "$cur") ); return ;;
        --state-dir) COMPREPLY=( $(compgen -d -- "$cur") ); return ;;
        # Free text: node names, labels, ids.
        --target|--deadband|--channel|--client-id|--username|--sparkplug) return ;;
    esac
    COMPREPLY=( $(compgen -W "--broker --target --base-topic --discovery-prefix --no-discovery --interval --max-age --max-rate --deadband --channel --port --read-only --client-id --username --password-file --cafile --cert --key --sparkplug --state-dir --no-plain -h --help --version" -- "$cur") )
}
complete -F _snmqtt snmqtt
