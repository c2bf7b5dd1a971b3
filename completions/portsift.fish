# fish completion for portsift: the options, then VIDs, PIDs and serial
# numbers of the USB serial devices attached now, from portsift's own full
# listing (by device when --all-ports is on the line). fish escapes each
# candidate as it inserts it (instance names hold &).

# Where the options end: the index of the first word after them, or nothing
# while SECONDS is being typed. Sets __portsift_all to --all-ports when given.
function __portsift_after_options
    set -l words (commandline -opc)
    set -l i 2
    set -g __portsift_all
    while test $i -le (count $words)
        switch $words[$i]
            case --wait --wait-gone --at
                test $i -eq (count $words); and return 1
                set i (math $i + 2)
            case --json --watch
                set i (math $i + 1)
            case --all-ports
                set -g __portsift_all --all-ports
                set i (math $i + 1)
            case '*'
                break
        end
    end
    echo $i
end

# The places where ports are plugged in now, from the program's own document.
function __portsift_locations
    set -l words (commandline -opc)
    $words[1] --all-ports --json 2>/dev/null | string match -r -g '^\s*"location": "(.*)",$' | sort -u
end

# True while the word being typed is --at's.
function __portsift_at_value
    set -l words (commandline -opc)
    test "$words[-1]" = --at
end

# True while the word being typed stands where an option may.
function __portsift_at_options
    set -l i (__portsift_after_options); or return 1
    test $i -gt (count (commandline -opc))
end

function __portsift_candidates
    set -l words (commandline -opc)
    set -l i (__portsift_after_options); or return
    set -l position (math (count $words) - $i + 2)
    test $position -le 3; or return
    set -l listing ($words[1] $__portsift_all 2>/dev/null); or return
    # Without --all-ports a composite device's function (PID&MI_nn) cannot
    # be asked for; with it, by its device's PID or its own.
    for line in $listing
        set -l f (string split ' ' -- $line)
        test -n "$__portsift_all"; or test (string length -- $f[2]) -eq 4; or continue
        switch $position
            case 1
                echo $f[1]
            case 2
                string match -qi -- $words[$i] $f[1]; or continue
                string sub -l 4 -- $f[2]
                test -n "$__portsift_all"; and echo $f[2]
            case 3
                string match -qi -- $words[$i] $f[1]; or continue
                set -l model $words[(math $i + 1)]
                if string match -qi -- $model $f[2]
                    or begin
                        test -n "$__portsift_all"; and string match -qi -- $model (string sub -l 4 -- $f[2])
                    end
                    echo $f[3]
                end
        end
    end | sort -u
end

complete -c portsift -f
complete -c portsift -n 'test (count (commandline -opc)) -eq 1' -s h -l help -d 'print the usage text'
complete -c portsift -n 'test (count (commandline -opc)) -eq 1' -l version -d 'print the version'
# Each option once, and none beside one it cannot go with: --watch and the
# two waits; --wait-gone and --json.
complete -c portsift -n '__portsift_at_options; and not __fish_seen_argument -l wait -l wait-gone -l watch' -l wait -x -d 'wait up to SECONDS for a port, handed over once it can be opened'
complete -c portsift -n '__portsift_at_options; and not __fish_seen_argument -l wait -l wait-gone -l watch -l json' -l wait-gone -x -d 'wait up to SECONDS for the ports to go'
complete -c portsift -n '__portsift_at_options; and not __fish_seen_argument -l json -l wait-gone' -l json -d 'print the ports as one JSON document'
complete -c portsift -n '__portsift_at_options; and not __fish_seen_argument -l all-ports' -l all-ports -d 'name and find every port by its USB device'
complete -c portsift -n '__portsift_at_options; and not __fish_seen_argument -l watch -l wait -l wait-gone' -l watch -d 'stream the ports as they come and go'
complete -c portsift -n '__portsift_at_options; and not __fish_seen_argument -l at' -l at -x -d 'only the ports plugged in at LOCATION (1-6.2, Port_#0002.Hub_#0001)'
complete -c portsift -n 'not __portsift_at_value' -a '(__portsift_candidates)'
complete -c portsift -n __portsift_at_value -a '(__portsift_locations)'
