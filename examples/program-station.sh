#!/usr/bin/env bash
# Production station (Linux): writes one configuration into the OB310 that is
# plugged in, logs the success, and tells the operator what to do next from
# the exit code.
#   program-station.sh FILE.ob310 PIN [LOGFILE]
# OB310_CLI names the tool (default: ob310_cli from PATH; ob310_cli_sim tries
# the script on the simulated OB310).
# Exits with the tool's exit code, or with 127 (the shell's code for a command
# it cannot find) when the tool cannot be started.
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 FILE.ob310 PIN [LOGFILE]"
    exit 16
fi
cli=${OB310_CLI:-ob310_cli}
file=$1 pin=$2 log=${3:-ob310.log}

if command -v "$cli" >/dev/null 2>&1; then
    "$cli" -f "$file" -p "$pin" -l "$log"
    status=$?
else
    status=127
fi

# Each code is one value, never a combination: compare exactly.
case $status in
    0)   echo "PASS: OB310 programmed and logged in $log" ;;
    1)   echo "FAIL: no OB310 found - check the cable" ;;
    2)   echo "STOP: more than one OB310 connected - connect exactly one" ;;
    4)   echo "FAIL: the OB310 refused or did not answer - wrong PIN for this device, or a faulty device" ;;
    8)   echo "STOP: configuration file $file not found" ;;
    16)  echo "STOP: argument error - can the log file $log be written?" ;;
    64)  echo "STOP: the PIN must be 16 hexadecimal digits" ;;
    # File content error: 256 on Windows; on Linux only 8 bits of an exit
    # status survive, so the tool exits with 255 there.
    255) echo "STOP: $file is not a valid configuration file" ;;
    # The tool never exits 126 or 127: the shell could not start it.
    126|127) echo "STOP: $cli can not be started - is ob310_cli installed?"; status=127 ;;
    *)   echo "FAIL: unexpected exit code $status" ;;
esac
exit "$status"
