# fish completion for portsift: VIDs, then PIDs, then serial numbers of the
# USB serial devices attached now, from portsift's own full listing.

function __portsift_candidates
    set -l words (commandline -opc)
    set -l listing ($words[1] 2>/dev/null); or return
    # A composite device's function (PID&MI_nn) cannot be asked for by VID and PID.
    for line in $listing
        set -l f (string split ' ' -- $line)
        test (string length -- $f[2]) -eq 4; or continue
        switch (count $words)
            case 1
                echo $f[1]
            case 2
                string match -qi -- $words[2] $f[1]; and echo $f[2]
            case 3
                string match -qi -- $words[2] $f[1]; and string match -qi -- $words[3] $f[2]; and echo $f[3]
        end
    end | sort -u
end

complete -c portsift -f
complete -c portsift -n 'test (count (commandline -opc)) -eq 1' -s h -l help -d 'print the usage text'
complete -c portsift -n 'test (count (commandline -opc)) -le 3' -a '(__portsift_candidates)'
