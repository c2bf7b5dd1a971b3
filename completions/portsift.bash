# bash completion for portsift: VIDs, then PIDs, then serial numbers of the
# USB serial devices attached now, from portsift's own full listing.

_portsift() {
    local cur=${COMP_WORDS[COMP_CWORD]} listing words
    [ "$COMP_CWORD" -le 3 ] || return 0
    # The listing's lines are "VID PID S/N PORT"; a composite device's
    # function (PID&MI_nn) cannot be asked for by VID and PID, so it is left out.
    listing=$("${COMP_WORDS[0]}" 2>/dev/null) || return 0
    case $COMP_CWORD in
    1) words="-h --help $(printf '%s\n' "$listing" | awk 'length($2) == 4 { print $1 }' | sort -u)" ;;
    2) words=$(printf '%s\n' "$listing" |
           awk -v vid="${COMP_WORDS[1]}" 'toupper($1) == toupper(vid) && length($2) == 4 { print $2 }' | sort -u) ;;
    3) words=$(printf '%s\n' "$listing" |
           awk -v vid="${COMP_WORDS[1]}" -v pid="${COMP_WORDS[2]}" \
               'toupper($1) == toupper(vid) && toupper($2) == toupper(pid) { print $3 }' | sort -u) ;;
    esac
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
}
complete -F _portsift portsift portsift.exe
