# bash completion for snbusd
_snbusd()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        -p|--port)
            COMPREPLY=( $(compgen -f -- "$cur") $(compgen -W "$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* 2>/dev/null)" -- "$cur") )
            return ;;
        -m|--baud) COMPREPLY=( $(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur") ); return ;;
        --listen|--metrics) COMPREPLY=( $(compgen -W "127.0.0.1:1502 [::1]:1502 127.0.0.1:9502" -- "$cur") ); return ;;
        --units|--max-clients|--idle-timeout|--timeout) return ;;
    esac
    COMPREPLY=( $(compgen -W "-p --port -m --baud --listen --metrics --read-only --units --max-clients --idle-timeout --timeout --wait-for-device -v --verbose -h --help --version" -- "$cur") )
}
complete -F _snbusd snbusd
