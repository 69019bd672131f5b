# Production station (Windows PowerShell): writes one configuration into the
# OB310 that is plugged in, logs the success, and tells the operator what to do
# next from the exit code.
#   powershell -ExecutionPolicy Bypass -File program-station.ps1 FILE.ob310 PIN [LOGFILE]
# OB310_CLI names the tool (default: ob310_cli.exe in the folder above this
# script's, as unpacked from the zip, else from PATH; ob310_cli_sim.exe tries
# the script on the simulated OB310).
# Exits with the tool's exit code, with 16 when FILE or PIN is missing (it
# never asks for them), or with 9009, as the command prompt does, when the
# tool cannot be started.
param(
    [string] $File,
    [string] $Pin,
    [string] $Log = 'ob310.log'
)

if (-not $File -or -not $Pin) {
    Write-Output 'usage: program-station.ps1 FILE.ob310 PIN [LOGFILE]'
    exit 16
}

$cli = $env:OB310_CLI
if (-not $cli) {
    $cli = 'ob310_cli.exe'
    $unpacked = Join-Path $PSScriptRoot '..\ob310_cli.exe'
    if (Test-Path -LiteralPath $unpacked) { $cli = $unpacked }
}

try {
    & $cli -f $File -p $Pin -l $Log
    $status = $LASTEXITCODE
} catch {
    # Not found, or not a program Windows can start.
    $status = 9009
}

# Each code is one value, never a combination: compare exactly.
$message = switch ($status) {
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
Write-Output $message
exit $status
