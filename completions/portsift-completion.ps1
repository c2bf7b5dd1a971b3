# PowerShell argument completer for portsift.exe: the options, then VIDs,
# PIDs and serial numbers of the USB serial devices attached now, from
# portsift's own full listing (by device when --all-ports is on the line).
# Dot-source this file from your profile:  . "$HOME\portsift\portsift-completion.ps1"

Register-ArgumentCompleter -Native -CommandName portsift, portsift.exe -ScriptBlock {
    param($wordToComplete, $commandAst, $cursorPosition)
    $words = @($commandAst.CommandElements | ForEach-Object { $_.ToString() })
    # The word being completed is not yet an element when it is empty.
    $current = if ($wordToComplete) { $words.Count - 1 } else { $words.Count }
    # Options come first; the VID, PID and S/N positions count after them.
    $i = 1
    $seen = @()
    while ($i -lt $current -and $words[$i] -in '--wait', '--wait-gone', '--json', '--all-ports', '--watch', '--at') {
        $seen += $words[$i]
        # --wait, --wait-gone and --at take the next word; --at's is a place where ports are plugged in now.
        if ($words[$i] -notin '--wait', '--wait-gone', '--at') { $i += 1 }
        elseif ($i + 1 -ne $current) { $i += 2 }
        elseif ($words[$i] -ne '--at') { return }
        else {
            $document = & $words[0] --all-ports --json 2>$null | Out-String | ConvertFrom-Json
            $typed = $wordToComplete.Trim("'")
            $document.ports.location | Where-Object { $_ -and $_ -like "$typed*" } | Sort-Object -Unique | ForEach-Object {
                [System.Management.Automation.CompletionResult]::new("'" + ($_ -replace "'", "''") + "'", $_, 'ParameterValue', $_)
            }
            return
        }
    }
    $all = @($seen | Where-Object { $_ -eq '--all-ports' })
    $position = $current - $i + 1
    if ($position -gt 3) { return }
    $candidates = @()
    if ($position -eq 1) {
        # The help switches only stand first; each option once, and none
        # beside one it cannot go with: --watch and the two waits;
        # --wait-gone and --json.
        if ($i -eq 1) { $candidates = @('-h', '--help', '--version') }
        $clash = @{ '--wait' = '--wait-gone', '--watch'; '--wait-gone' = '--wait', '--watch', '--json';
                    '--watch' = '--wait', '--wait-gone'; '--json' = @('--wait-gone') }
        $candidates += @('--wait', '--wait-gone', '--json', '--all-ports', '--watch', '--at') | Where-Object {
            $option = $_
            $option -notin $seen -and -not ($clash[$option] | Where-Object { $_ -in $seen })
        }
    }
    if (-not ($candidates -and $wordToComplete.StartsWith('-'))) {
        $listing = & $words[0] @all 2>$null
        if ($LASTEXITCODE -ne 0) { return }
        # Lines are "VID PID S/N PORT". Without --all-ports a composite
        # device's function (PID&MI_nn) cannot be asked for; with it, by its
        # device's PID or its own.
        $fields = $listing | ForEach-Object { , ($_ -split ' ') } | Where-Object { $all -or $_[1].Length -eq 4 }
        # The VID and PID as the program gets them: without the quotes of a quoted word ('6010&MI_01').
        $vid = "$($words[$i])".Trim("'", '"')
        $model = "$($words[$i + 1])".Trim("'", '"')
        $candidates += switch ($position) {
            1 { $fields | ForEach-Object { $_[0] } }
            2 { $fields | Where-Object { $_[0] -eq $vid } | ForEach-Object { $_[1].Substring(0, 4); if ($all) { $_[1] } } }
            3 {
                $fields | Where-Object { $_[0] -eq $vid -and ($_[1] -eq $model -or ($all -and $_[1].Substring(0, 4) -eq $model)) } |
                    ForEach-Object { $_[2] }
            }
        }
    }
    $candidates | Sort-Object -Unique | Where-Object { $_ -like "$($wordToComplete.Trim("'"))*" } | ForEach-Object {
        # Quoted wherever PowerShell would read a character itself: the &
        # of an instance name, a blank, a quote.
        $text = if ($_ -match '^[\w.-]+$') { $_ } else { "'" + ($_ -replace "'", "''") + "'" }
        [System.Management.Automation.CompletionResult]::new($text, $_, 'ParameterValue', $_)
    }
}
