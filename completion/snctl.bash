# bash completion for snctl
_snctl()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"

    case "$prev" in
        -p|--port)
            COMPREPLY=( $(compgen -f -- "$cur") $(compgen -W "$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* 2>/dev/null)" -- "$cur") )
            return ;;
        -m|--modbus-baud|-b)
            COMPREPLY=( $(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur") ); return ;;
        -a|--slave) return ;;
        -d|--debug) COMPREPLY=( $(compgen -W "0 1 2 3" -- "$cur") ); return ;;
        --parity) COMPREPLY=( $(compgen -W "N E O" -- "$cur") ); return ;;
        --stop) COMPREPLY=( $(compgen -W "1 2" -- "$cur") ); return ;;
        --link) COMPREPLY=( $(compgen -f -- "$cur") ); return ;;
        --slaves|--timeout|--listen|--target|--allow) return ;;
    esac
    # The DEVICE of --target NAME=DEVICE (readline splits words at '=').
    if [[ "$prev" == "=" && "${COMP_WORDS[COMP_CWORD-3]}" == --target ]]; then
        COMPREPLY=( $(compgen -f -- "$cur") $(compgen -W "$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* 2>/dev/null)" -- "$cur") )
        return
    fi

    # Find the command word: the first word that is neither an option nor
    # an option's value.
    local i word command="" position=0
    for (( i = 1; i < COMP_CWORD; i++ )); do
        word="${COMP_WORDS[i]}"
        if [[ -z "$command" ]]; then
            case "$word" in
                -p|--port|-m|--modbus-baud|-a|--slave|-d|--debug) (( i++ )) ;;
                -*) ;;
                *) command="$word"; position=$i ;;
            esac
        fi
    done

    if [[ -z "$command" ]]; then
        if [[ "$cur" == -* ]]; then
            COMPREPLY=( $(compgen -W "-p --port -m --modbus-baud -a --slave -d --debug --json -h --help --version" -- "$cur") )
        else
            COMPREPLY=( $(compgen -W "info power analog params blink dc reset-config timeout port bridge scan exporter help" -- "$cur") )
        fi
        return
    fi

    local argument=$(( COMP_CWORD - position ))
    case "$command" in
        help)
            [[ $argument == 1 ]] && COMPREPLY=( $(compgen -W "info power analog params blink dc reset-config timeout port bridge scan exporter" -- "$cur") ) ;;
        power)
            case $argument in
                1) COMPREPLY=( $(compgen -W "0 1 2 3" -- "$cur") ) ;;
                2) COMPREPLY=( $(compgen -W "on off status" -- "$cur") ) ;;
            esac ;;
        analog) COMPREPLY=( $(compgen -W "0 1 2 3 4 5 6 7" -- "$cur") ) ;;
        params) [[ $argument == 1 ]] && COMPREPLY=( $(compgen -W "get set" -- "$cur") ) ;;
        blink) [[ $argument == 1 ]] && COMPREPLY=( $(compgen -W "0 1 2" -- "$cur") ) ;;
        dc) [[ $argument == 1 ]] && COMPREPLY=( $(compgen -W "on off" -- "$cur") ) ;;
        timeout) [[ $argument == 1 ]] && COMPREPLY=( $(compgen -W "get set" -- "$cur") ) ;;
        port)
            case $argument in
                1) COMPREPLY=( $(compgen -W "0 1 2" -- "$cur") ) ;;
                2) COMPREPLY=( $(compgen -W "init drain iflush oflush break errors clear-errors send recv" -- "$cur") ) ;;
                4) [[ "${COMP_WORDS[position+2]}" == init ]] && COMPREPLY=( $(compgen -W "N E O" -- "$cur") ) ;;
                5) [[ "${COMP_WORDS[position+2]}" == init ]] && COMPREPLY=( $(compgen -W "1 2" -- "$cur") ) ;;
            esac ;;
        scan) COMPREPLY=( $(compgen -W "--slaves --timeout --help" -- "$cur") ) ;;
        exporter) COMPREPLY=( $(compgen -W "--listen --target --help" -- "$cur") ) ;;
        bridge)
            if [[ $argument == 1 ]]; then
                COMPREPLY=( $(compgen -W "0 1 2" -- "$cur") )
            else
                COMPREPLY=( $(compgen -W "-b --parity --stop --link --listen --raw --allow --keep" -- "$cur") )
            fi ;;
    esac
}
complete -F _snctl snctl
