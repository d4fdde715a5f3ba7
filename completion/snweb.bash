# bash completion for snweb
_snweb()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        --listen) COMPREPLY=( $(compgen -W "127.0.0.1:9741 [::1]:9741 9741" -- "$cur") ); return ;;
        --target) COMPREPLY=( $(compgen -W "node=tcp:127.0.0.1:1502 node=/dev/ttyUSB0" -- "$cur") ); return ;;
        --rate) COMPREPLY=( $(compgen -W "0.2 0.5 1 2 5 10" -- "$cur") ); return ;;
        --token-file) COMPREPLY=( $(compgen -f -- "$cur") ); return ;;
        --allow-host) return ;;
    esac
    COMPREPLY=( $(compgen -W "--listen --target --rate --read-only --token-file --allow-host -h --help --version" -- "$cur") )
}
complete -F _snweb snweb
