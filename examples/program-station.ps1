# Production station (Windows PowerShell): writes one configuration into
# OB310s.
#   powershell -ExecutionPolicy Bypass -File program-station.ps1 FILE.ob310 PIN [LOGFILE]
#     writes the OB310 that is plugged in, logs the success, and tells the
#     operator what to do next from the exit code.
#   powershell -ExecutionPolicy Bypass -File program-station.ps1 -Production FILE.ob310 PIN [LOGFILE]
#     production mode: waits for an OB310, writes it, reads it back and
#     compares, reports, waits until it is unplugged, and again, until Ctrl+C
#     or a stop file (LOGFILE.stop) ends the session after the current device.
#     Everything it prints also goes to LOGFILE.report.txt. It follows
#     program-station.sh and .bat line for line, but unlike theirs it is not
#     tested: Debian, where the tests run, has no PowerShell.
# OB310_CLI names the tool (default: ob310_cli.exe in the folder above this
# script's, as unpacked from the zip, else from PATH; ob310_cli_sim.exe tries
# the script on the simulated OB310). Production mode also reads OB310_POLL_MS
# (the pause between two looks for a device, default 500 ms) and OB310_RERUN
# (serial numbers that may be written once more although the log holds them).
# Exits with the tool's exit code, with 16 when FILE or PIN is missing (it
# never asks for them), or with 9009, as the command prompt does, when the
# tool cannot be started; production mode exits 0 when Ctrl+C or the stop file
# ended it, else with the code of the STOP.
param(
    [switch] $Production,
    [string] $File,
    [string] $Pin,
    [string] $Log = 'ob310.log'
)

if (-not $File -or -not $Pin) {
    Write-Output 'usage: program-station.ps1 [-Production] FILE.ob310 PIN [LOGFILE]'
    exit 16
}

$cli = $env:OB310_CLI
if (-not $cli) {
    $cli = 'ob310_cli.exe'
    $unpacked = Join-Path $PSScriptRoot '..\ob310_cli.exe'
    if (Test-Path -LiteralPath $unpacked) { $cli = $unpacked }
}
# The tool takes any argument that starts with "-" for an option, so such a
# name reaches it as .\NAME (the operator's lines show the name as given).
$toolFile = if ($File.StartsWith('-')) { ".\$File" } else { $File }
$toolLog = if ($Log.StartsWith('-')) { ".\$Log" } else { $Log }

# The operator's line for an exit code of the tool. Each code is one value,
# never a combination: compare exactly.
function Explain([int] $status) {
    switch ($status) {
        0       { "PASS: OB310 programmed and logged in $Log" }
        1       { 'FAIL: no OB310 found - check the cable' }
        2       { 'STOP: more than one OB310 connected - connect exactly one' }
        4       { 'FAIL: the OB310 refused or did not answer - wrong PIN for this device, or a faulty device' }
        8       { "STOP: configuration file $File not found" }
        16      { "STOP: argument error - can the log file $Log be written?" }
        64      { 'STOP: the PIN must be 16 hexadecimal digits' }
        256     { "STOP: $File is not a valid configuration file" }
        9009    { "STOP: $cli can not be started - is ob310_cli installed?" }
        default { "FAIL: unexpected exit code $status" }
    }
}

if (-not $Production) {
    try {
        & $cli -f $toolFile -p $Pin -l $toolLog
        $status = $LASTEXITCODE
    } catch {
        # Not found, or not a program Windows can start.
        $status = 9009
    }
    Write-Output (Explain $status)
    exit $status
}

# ---- Production mode ---------------------------------------------------------

$logPath = $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($Log)
$report = "$logPath.report.txt"
$stopFile = "$logPath.stop"
$pollMs = 500
if ($env:OB310_POLL_MS) {
    if ($env:OB310_POLL_MS -notmatch '^[0-9]{1,6}$') {
        Write-Output 'STOP: OB310_POLL_MS must be a number of milliseconds'
        exit 16
    }
    $pollMs = [int] $env:OB310_POLL_MS
}
$rerun = @(($env:OB310_RERUN -split '[\s,;]+') | Where-Object { $_ } | ForEach-Object { $_.ToUpper() })
$written = @()
# A simulated record counts only against the simulator, a real one only
# against real devices: the simulator's records end with DEVICE=simulated;.
$simulated = [IO.Path]::GetFileNameWithoutExtension($cli) -eq 'ob310_cli_sim'
$passed = 0; $failed = 0; $refused = 0
$script:stopBy = $null

# Runs the tool; its output lines in $script:out, its exit code returned.
function Invoke-Tool {
    try {
        $script:out = @(& $cli @args)
        return $LASTEXITCODE
    } catch {
        $script:out = @()
        return 9009
    }
}

# One line for the operator, on the screen (in a colour when given) and in the report.
function Say([string] $text, [string] $colour) {
    if ($colour) { Write-Host $text -ForegroundColor $colour } else { Write-Host $text }
    [IO.File]::AppendAllText($report, "$text`r`n")
}
function Stamp { (Get-Date).ToString('HH:mm:ss') }
function Day { (Get-Date).ToString('yyyy-MM-dd HH:mm:ss') }

# Ctrl+C is taken as a key press while the session runs, so the console sends
# no Ctrl+C to the tool: a write is never cut short. The session looks for it
# between two runs of the tool.
function Stop-Requested {
    try {
        while ([Console]::KeyAvailable) {
            $key = [Console]::ReadKey($true)
            if ($key.Key -eq 'C' -and ($key.Modifiers -band [ConsoleModifiers]::Control)) { $script:stopBy = 'Ctrl+C' }
        }
    } catch { }
    if (-not $script:stopBy -and (Test-Path -LiteralPath $stopFile)) {
        Remove-Item -LiteralPath $stopFile -Force
        $script:stopBy = 'the stop file'
    }
    return [bool] $script:stopBy
}

function Pause-Poll { if ($pollMs -gt 0) { Start-Sleep -Milliseconds $pollMs } }

# The fields of an -i printout: serial (upper case, as in the log), erase
# count, custom data and lock state.
function Read-Info {
    $info = @{ Serial = ''; Erases = ''; Custom = ''; Lock = '' }
    foreach ($line in $out) {
        if ($line -match '^Serial = (.*)$') { $info.Serial = $Matches[1].ToUpper() }
        elseif ($line -match '^Erase count = (.*)$') { $info.Erases = $Matches[1] }
        elseif ($line -match '^Custom Data = (.*)$') { $info.Custom = $Matches[1] }
        elseif ($line -match '^Lock status = (.*)$') { $info.Lock = $Matches[1] }
    }
    return $info
}

# The tool's last error line, without its colour, or the exit code.
function Error-Text([int] $status) {
    $lines = @($out | Where-Object { $_ -match 'Error' } | ForEach-Object { $_ -replace "$([char]27)\[[0-9;]*m", '' })
    if ($lines.Count -gt 0) { return $lines[-1] }
    return "exit code $status"
}

# Whether the log already holds a write of this serial by a device of this
# station's kind, unless OB310_RERUN allows it once more. The FILE= field
# escapes ";", so it can hold neither the record's fields nor DEVICE=simulated;.
function Written-Before([string] $serial) {
    if (-not (Test-Path -LiteralPath $logPath)) { return $false }
    $records = @(Select-String -LiteralPath $logPath -SimpleMatch "CMD=write;STATE=success;SN=$serial;")
    $mine = @($records | Where-Object { $_.Line.Contains('DEVICE=simulated;') -eq $simulated })
    if ($mine.Count -eq 0) { return $false }
    return -not ($rerun -contains $serial) -or ($written -contains $serial)
}

function Big([string] $word, [string] $colour) {
    $lines = switch ($word) {
        'PASS' { ' ####    ###    ####   ####', ' #   #  #   #  #      #', ' ####   #####   ###    ###',
                 ' #      #   #      #      #', ' #      #   #  ####   ####' }
        'FAIL' { ' #####   ###   #####  #', ' #      #   #    #    #', ' ####   #####    #    #',
                 ' #      #   #    #    #', ' #      #   #  #####  #####' }
        'REFUSED' { ' ####   #####  #####  #   #   ####  #####  ####', ' #   #  #      #      #   #  #      #      #   #',
                    ' ####   ####   ####   #   #   ###   ####   #   #', ' #  #   #      #      #   #      #  #      #   #',
                    ' #   #  #####  #       ###   ####   #####  ####' }
    }
    foreach ($line in $lines) { Say $line $colour }
}

# One board's result: the line, the big word, the running totals.
function Result([string] $word, [string] $serial, [string] $why) {
    $colour = @{ PASS = 'Green'; FAIL = 'Red'; REFUSED = 'Yellow' }[$word]
    switch ($word) {
        'PASS' { $script:passed++ }
        'FAIL' { $script:failed++ }
        'REFUSED' { $script:refused++ }
    }
    $shown = if ($serial) { $serial } else { '????????' }
    Say ('{0}  {1}  {2,-7}  {3}' -f (Stamp), $shown, $word, $why) $colour
    Big $word $colour
    Say "Totals: $script:passed passed, $script:failed failed, $script:refused refused. Remove the OB310."
    $script:mode = 'removal'; $script:announced = $false; $script:twoShown = $false; $script:serial = $serial
}

# A STOP that ends the session (a fault of the station's set-up).
function Stop-Session([int] $status) {
    Say (Explain $status)
    Say "$(Day)  Session ended by a STOP: $passed passed, $failed failed, $refused refused"
    exit $status
}

# Everything is checked before the first device is touched: the report, the
# tool, the PIN and the log (a valid PIN with nothing to do opens the log and
# touches no device), and the file's data lines 1 and 6.
try { [IO.File]::AppendAllText($report, '') } catch {
    Write-Output "STOP: the report $report can not be written"
    exit 16
}
$status = Invoke-Tool -p $Pin -l $toolLog
if ($status -ne 0) { Stop-Session $status }
if (-not (Test-Path -LiteralPath $File -PathType Leaf)) { Stop-Session 8 }
# What the file promises the device shows after writing: data line 1 (the
# custom data) and data line 6 (the lock), read as the tool reads them.
$data = @([IO.File]::ReadAllText((Resolve-Path -LiteralPath $File).ProviderPath) -split "`n" |
    ForEach-Object { $_ -replace "`r$", '' } | Where-Object { $_ -ne '' -and '#:;'.IndexOf($_[0]) -lt 0 } |
    Select-Object -First 7)
if ($data.Count -lt 7 -or $data[1] -notmatch '^[0-9A-Fa-f]{32}$' -or $data[6].Length -ne 2) { Stop-Session 256 }
$expectCustom = $data[1].ToLower()
# The tool reads the lock line as a base-16 number and locks for 1 only.
$expectLock = if ($data[6] -cmatch '^(01|1[^0-9A-Fa-f]|[ \t+]1)$') { 'locked' } else { 'open' }
if (Test-Path -LiteralPath $stopFile) { Remove-Item -LiteralPath $stopFile -Force }
Say "$(Day)  Session started: $File into each OB310 with $([IO.Path]::GetFileName($cli))"
Say "Check after writing: custom data $expectCustom, $expectLock"
Say "Log $Log, report $Log.report.txt"
Say "Stop with Ctrl+C or by creating $Log.stop"

$controlC = $null
try { $controlC = [Console]::TreatControlCAsInput; [Console]::TreatControlCAsInput = $true } catch { }
try {
    # The loop: wait for one OB310, write it, check it, wait until it is gone.
    $script:mode = 'device'; $script:announced = $false; $script:twoShown = $false; $script:serial = ''
    while (-not (Stop-Requested)) {
        if ($script:mode -eq 'device' -and -not $script:announced) {
            Say 'Waiting for an OB310 ...'
            $script:announced = $true
        }
        $status = Invoke-Tool -i
        if ($status -eq 1) { $script:mode = 'device'; $script:twoShown = $false; Pause-Poll; continue }
        if ($status -eq 4) {
            # A device that does not answer fails once, then has to go.
            if ($script:mode -eq 'device') { Result 'FAIL' '' (Error-Text $status) }
            Pause-Poll; continue
        }
        if ($status -ne 0) { Stop-Session $status }
        $info = Read-Info
        # The board that had to go is still there (or one that never answered).
        if ($script:mode -eq 'removal' -and (-not $script:serial -or $info.Serial -eq $script:serial)) { Pause-Poll; continue }
        $serial = $info.Serial
        $erases = [int] $info.Erases
        if (Written-Before $serial) {
            Result 'REFUSED' $serial "already written; OB310_RERUN=$serial writes it again"
            continue
        }
        $status = Invoke-Tool -f $toolFile -p $Pin -l $toolLog
        if ($status -eq 1) { Pause-Poll; continue }    # gone before the write began
        if ($status -eq 2) {
            if (-not $script:twoShown) { Say (Explain 2) }
            $script:twoShown = $true; Pause-Poll; continue
        }
        if ($status -eq 4) { Result 'FAIL' $serial (Error-Text $status); continue }
        if ($status -ne 0) { Stop-Session $status }
        $written += $serial
        # The check: the device shows what the file says, and one erase more
        # (the count stops at 65535).
        $expectErases = [Math]::Min($erases + 1, 65535)
        $status = Invoke-Tool -i
        if ($status -ne 0) { Result 'FAIL' $serial "written, but the check got no answer: $(Error-Text $status)"; continue }
        $after = Read-Info
        $mismatch = @()
        if ($after.Custom -ne $expectCustom) { $mismatch += "custom data $($after.Custom), expected $expectCustom" }
        if ($after.Lock -ne $expectLock) { $mismatch += "lock $($after.Lock), expected $expectLock" }
        if ($after.Erases -ne "$expectErases") { $mismatch += "erase count $($after.Erases), expected $expectErases" }
        if ($after.Serial -ne $serial) { $mismatch += "serial $($after.Serial), expected $serial" }
        if ($mismatch.Count -gt 0) {
            Result 'FAIL' $serial "check: $($mismatch -join '; ')"
        } else {
            Result 'PASS' $serial "written, checked and logged (erase count $($after.Erases))"
        }
    }
} finally {
    if ($null -ne $controlC) { try { [Console]::TreatControlCAsInput = $controlC } catch { } }
}
Say "$(Day)  Session ended by $($script:stopBy): $passed passed, $failed failed, $refused refused"
exit 0
