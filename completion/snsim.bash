# bash completion for snsim
_snsim()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        --link) COMPREPLY=( $(compgen -f -- "$cur") ); return ;;
        --port0|--port1|--port2)
            COMPREPLY=( $(compgen -W "loopback none pty pty: exec:" -- "$cur") ); return ;;
        --baud) COMPREPLY=( $(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur") ); return ;;
        --slave|--tx-fifo|--rx-fifo) return ;;
    esac
    COMPREPLY=( $(compgen -W "--link --slave --port0 --port1 --port2 --line-timing --baud --tx-fifo --rx-fifo --help --version" -- "$cur") )
}
complete -F _snsim snsim
