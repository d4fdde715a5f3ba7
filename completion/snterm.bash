# bash completion for snterm
_snterm()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        -p)
            COMPREPLY=( $(compgen -f -- "$cur") $(compgen -W "$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* 2>/dev/null) tcp:127.0.0.1:1502" -- "$cur") )
            return ;;
        -m|-b) COMPREPLY=( $(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur") ); return ;;
        -t) COMPREPLY=( $(compgen -W "0 1 2" -- "$cur") ); return ;;
        -d) COMPREPLY=( $(compgen -W "0 1 2 3" -- "$cur") ); return ;;
        -a) return ;;
    esac
    COMPREPLY=( $(compgen -W "-a -b -d -h -m -p -t --version" -- "$cur") )
}
complete -F _snterm snterm
