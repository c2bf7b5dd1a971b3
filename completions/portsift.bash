# bash completion for portsift: the options, then VIDs, PIDs and serial
# numbers of the USB serial devices attached now, from portsift's own full
# listing (by device when --all-ports is on the line).

_portsift() {
    local cur=${COMP_WORDS[COMP_CWORD]} i=1 all= seen= options= listing words word
    # Options come first; the VID, PID and S/N positions count after them.
    while [ "$i" -lt "$COMP_CWORD" ]; do
        word=${COMP_WORDS[i]}
        case $word in
        --wait) [ $((i + 1)) -eq "$COMP_CWORD" ] && return 0; i=$((i + 2)) ;;
        --json | --watch) i=$((i + 1)) ;;
        --all-ports) all=--all-ports; i=$((i + 1)) ;;
        *) break ;;
        esac
        seen="$seen $word "
    done
    local position=$((COMP_CWORD - i + 1))
    [ "$position" -le 3 ] || return 0
    if [ "$position" -eq 1 ]; then
        # The help switches only stand first; each option once.
        [ "$i" -eq 1 ] && options="-h --help"
        for word in --wait --json --all-ports --watch; do
            [[ $seen == *" $word "* ]] || options="$options $word"
        done
    fi
    if [ -n "$options" ] && [ "${cur#-}" != "$cur" ]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi
    listing=$("${COMP_WORDS[0]}" $all 2>/dev/null) || return 0
    # Lines are "VID PID S/N PORT". Without --all-ports a composite
    # device's function (PID&MI_nn) cannot be asked for, so it is left out;
    # with it, a function is asked for by its device's PID or its own.
    words=$(printf '%s\n' $options "$listing" | awk -v n="$position" -v all="$all" \
        -v vid="${COMP_WORDS[i]}" -v pid="${COMP_WORDS[i + 1]}" '
        /^-/ { print; next }
        all == "" && length($2) != 4 { next }
        n == 1 { print $1; next }
        toupper($1) != toupper(vid) { next }
        n == 2 { print substr($2, 1, 4); if (all != "") print $2; next }
        toupper($2) == toupper(pid) || (all != "" && toupper(substr($2, 1, 4)) == toupper(pid)) { print $3 }' |
        sort -u)
    # Instance names hold & and other characters the shell reads: each
    # candidate is inserted quoted.
    local IFS=$'\n' typed=${cur//\\/}
    typed=${typed#[\'\"]}
    COMPREPLY=()
    for word in $words; do
        [[ ${word^^} == "${typed^^}"* ]] && COMPREPLY+=("$(printf '%q' "$word")")
    done
}
complete -F _portsift portsift portsift.exe
