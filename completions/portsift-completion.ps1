# PowerShell argument completer for portsift.exe: VIDs, then PIDs, then serial
# numbers of the USB serial devices attached now, from portsift's own full
# listing. Dot-source this file from your profile:  . "$HOME\portsift\portsift-completion.ps1"

Register-ArgumentCompleter -Native -CommandName portsift, portsift.exe -ScriptBlock {
    param($wordToComplete, $commandAst, $cursorPosition)
    $words = @($commandAst.CommandElements | ForEach-Object { $_.ToString() })
    # The word being completed is not yet an element when it is empty.
    $position = if ($wordToComplete) { $words.Count - 1 } else { $words.Count }
    if ($position -gt 3) { return }
    $listing = & $words[0] 2>$null
    if ($LASTEXITCODE -ne 0) { return }
    # Lines are "VID PID S/N PORT"; a composite device's function
    # (PID&MI_nn) cannot be asked for by VID and PID.
    $fields = $listing | ForEach-Object { , ($_ -split ' ') } | Where-Object { $_[1].Length -eq 4 }
    $candidates = switch ($position) {
        1 { @('-h', '--help') + ($fields | ForEach-Object { $_[0] }) }
        2 { $fields | Where-Object { $_[0] -eq $words[1] } | ForEach-Object { $_[1] } }
        3 { $fields | Where-Object { $_[0] -eq $words[1] -and $_[1] -eq $words[2] } | ForEach-Object { $_[2] } }
    }
    $candidates | Sort-Object -Unique | Where-Object { $_ -like "$wordToComplete*" } |
        ForEach-Object { [System.Management.Automation.CompletionResult]::new($_, $_, 'ParameterValue', $_) }
}
