# bash completion for portsift: the options, then VIDs, PIDs and serial
# numbers of the USB serial devices attached now, from portsift's own full
# listing (by device when --all-ports is on the line).

_portsift() {
    local cur=${COMP_WORDS[COMP_CWORD]} i=1 all= seen= options= listing words word vid pid
    # Options come first; the VID, PID and S/N positions count after them.
    while [ "$i" -lt "$COMP_CWORD" ]; do
        word=${COMP_WORDS[i]}
        case $word in
        --wait | --wait-gone) [ $((i + 1)) -eq "$COMP_CWORD" ] && return 0; i=$((i + 2)) ;;
        --at)
            if [ $((i + 1)) -eq "$COMP_CWORD" ]; then
                # The places where ports are plugged in now, from the program's own document.
                local IFS=$'\n'
                COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" --all-ports --json 2>/dev/null |
                    sed -n 's/^ *"location": "\(.*\)",$/\1/p' | sort -u)" -- "$cur"))
                return 0
            fi
            i=$((i + 2)) ;;
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
        # Each option once, and none beside one it cannot go with: --watch
        # and the two waits; --wait-gone and --json.
        local clash other
        # --version stands alone.
        [ "$i" -eq 1 ] && options="$options --version"
        for word in --wait --wait-gone --json --all-ports --watch --at; do
            case $word in
            --wait) clash="--wait --wait-gone --watch" ;;
            --wait-gone) clash="--wait --wait-gone --watch --json" ;;
            --watch) clash="--watch --wait --wait-gone" ;;
            --json) clash="--json --wait-gone" ;;
            *) clash=$word ;;
            esac
            for other in $clash; do [[ $seen == *" $other "* ]] && continue 2; done
            options="$options $word"
        done
    fi
    if [ -n "$options" ] && [ "${cur#-}" != "$cur" ]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi
    listing=$("${COMP_WORDS[0]}" $all 2>/dev/null) || return 0
    # The VID and PID as the program gets them: without the shell's
    # backslashes and quotes (6010\&MI_01, '6010&MI_01').
    vid=${COMP_WORDS[i]//\\/} pid=${COMP_WORDS[i + 1]//\\/}
    vid=${vid//[\'\"]/} pid=${pid//[\'\"]/}
    # Lines are "VID PID S/N PORT". Without --all-ports a composite
    # device's function (PID&MI_nn) cannot be asked for, so it is left out;
    # with it, a function is asked for by its device's PID or its own.
    words=$(printf '%s\n' $options "$listing" | awk -v n="$position" -v all="$all" \
        -v vid="$vid" -v pid="$pid" '
        /^-/ { print; next }
        all == "" && length($2) != 4 { next }
        n == 1 { print $1; next }
        toupper($1) != toupper(vid) { next }
        n == 2 { print substr($2, 1, 4); if (all != "") print $2; next }
        toupper($2) == toupper(pid) || (all != "" && toupper(substr($2, 1, 4)) == toupper(pid)) { print $3 }' |
        sort -u)
    # Instance names hold & and other characters the shell reads: each
    # candidate is inserted quoted, by the quote the word was begun with
    # (the shell closes it) or else with backslashes.
    local IFS=$'\n' typed=${cur//\\/} quoted=
    [[ $typed == [\'\"]* ]] && quoted=1
    typed=${typed#[\'\"]}
    COMPREPLY=()
    for word in $words; do
        [[ ${word^^} == "${typed^^}"* ]] || continue
        if [ -n "$quoted" ]; then COMPREPLY+=("$word"); else COMPREPLY+=("$(printf '%q' "$word")"); fi
    done
}
complete -F _portsift portsift portsift.exe
