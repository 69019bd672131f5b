#!/usr/bin/env bash
# Production station (Linux): writes one configuration into OB310s.
#   program-station.sh FILE.ob310 PIN [LOGFILE]
#     writes the OB310 that is plugged in, logs the success, and tells the
#     operator what to do next from the exit code.
#   program-station.sh --production FILE.ob310 PIN [LOGFILE]
#     production mode: waits for an OB310, writes it, reads it back and
#     compares, reports, waits until it is unplugged, and again, until Ctrl+C
#     or a stop file (LOGFILE.stop) ends the session after the current device.
#     Everything it prints also goes to LOGFILE.report.txt.
# OB310_CLI names the tool (default: ob310_cli from PATH; ob310_cli_sim tries
# the script on the simulated OB310). Production mode also reads OB310_POLL_MS
# (the pause between two looks for a device, default 500 ms) and OB310_RERUN
# (serial numbers that may be written once more although the log holds them).
# Exits with the tool's exit code, or with 127 (the shell's code for a command
# it cannot find) when the tool cannot be started; production mode exits 0
# when Ctrl+C or the stop file ended it, else with the code of the STOP.
set -u
if [ "${1:-}" = --production ]; then
    production=1
    shift
else
    production=0
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--production] FILE.ob310 PIN [LOGFILE]"
    exit 16
fi
cli=${OB310_CLI:-ob310_cli}
file=$1 pin=$2 log=${3:-ob310.log}
# The tool takes any argument that starts with "-" for an option, so such a
# name reaches it as ./NAME (the operator's lines show the name as given).
tool_file=$file tool_log=$log
[[ $file != -* ]] || tool_file=./$file
[[ $log != -* ]] || tool_log=./$log

# The operator's line for the tool's exit code in $status. Each code is one
# value, never a combination: compare exactly.
explain() {
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
}

if [ "$production" = 0 ]; then
    if command -v "$cli" >/dev/null 2>&1; then
        "$cli" -f "$tool_file" -p "$pin" -l "$tool_log"
        status=$?
    else
        status=127
    fi
    explain
    exit "$status"
fi

# ---- Production mode -------------------------------------------------------

report=$log.report.txt stop_file=$log.stop
poll_ms=${OB310_POLL_MS:-500}
passed=0 failed=0 refused=0
stop_by=        # what ended the session: Ctrl+C or the stop file
written=" "     # serials written in this session (an OB310_RERUN counts once)
rerun=" $(tr ',;a-f' '  A-F' <<<"${OB310_RERUN:-}") "
# A simulated record counts only against the simulator, a real one only
# against real devices: the simulator's records end with DEVICE=simulated;.
simulated=0
[ "${cli##*/}" = ob310_cli_sim ] && simulated=1
if [ -t 1 ]; then
    green=$'\e[1;32m' red=$'\e[1;31m' yellow=$'\e[1;33m' plain=$'\e[0m'
else
    green= red= yellow= plain=
fi

# One line for the operator, on the screen and in the report. With a colour
# ($1, may be empty) the screen shows it in that colour.
say_in() {
    printf '%s\n' "$1$2${1:+$plain}"
    printf '%s\n' "$2" >>"$report"
}
say() { say_in "" "$1"; }
# The time (format $1) in $now. Ctrl+C reaches every process the session
# starts; a builtin and the subshells below that ignore it are never cut
# short, so no answer the session acts on is lost to a Ctrl+C.
now() { printf -v now "%($1)T" -1; }

# Runs the tool with the rest of the line, its standard output in $out and
# its exit code in $status. The tool ignores Ctrl+C, so a write is never cut
# short: the session notices Ctrl+C once the tool has ended.
tool() {
    out=$(trap '' INT; exec "$cli" "$@")
    status=$?
}

# The fields of an -i printout in $out: serial (upper case, as in the log),
# erase count, custom data and lock state.
read_info() {
    local line
    i_serial= i_erases= i_custom= i_lock=
    while IFS= read -r line; do
        line=${line%$'\r'}
        case $line in
            "Serial = "*) i_serial=${line#Serial = } i_serial=${i_serial^^} ;;
            "Erase count = "*) i_erases=${line#Erase count = } ;;
            "Custom Data = "*) i_custom=${line#Custom Data = } ;;
            "Lock status = "*) i_lock=${line#Lock status = } ;;
        esac
    done <<<"$out"
}

# The tool's last error line in $out, without its colour, or the exit code.
error_text() (
    trap '' INT
    local text
    text=$(grep -a 'Error' <<<"$out" | tail -n 1 | sed 's/\x1b\[[0-9;]*m//g')
    echo "${text:-exit code $status}"
)

# What the file promises the device shows after writing: data line 1 (the
# custom data) and data line 6 (the lock), read as the tool reads them.
# Comment lines start with #, : or ;, empty lines do not count, CR LF ends a
# line as LF does, and a UTF-8 byte order mark at the very start (Notepad
# saves one) is skipped.
read_expected() {
    local line n=0 data1= data6= first=1
    [ -r "$file" ] && [ -f "$file" ] || { status=8; return 1; }
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'}
        [ "$first" = 0 ] || line=${line#$'\xEF\xBB\xBF'}
        first=0
        case $line in '' | '#'* | ':'* | ';'*) continue ;; esac
        case $n in 1) data1=$line ;; 6) data6=$line; break ;; esac
        n=$((n + 1))
    done <"$file"
    # The tool reads the lock line as a base-16 number and locks for 1 only.
    case $data6 in
        01 | 1[!0-9A-Fa-f] | [' '$'\t''+']1) expect_lock=locked ;;
        ??) expect_lock=open ;;
        *) status=255; return 1 ;;
    esac
    [[ $data1 =~ ^[0-9A-Fa-f]{32}$ ]] || { status=255; return 1; }
    expect_custom=$(tr A-F a-f <<<"$data1")
}

# Whether the log already holds a write of serial $1 by a device of this
# station's kind (real or simulated). The FILE= field escapes ";", so it can
# hold neither the record's fields nor DEVICE=simulated; of its own.
written_before() (
    trap '' INT
    local records
    records=$(grep -aF "CMD=write;STATE=success;SN=$1;" -- "$log" 2>/dev/null) || exit 1
    if [ "$simulated" = 1 ]; then
        grep -qF 'DEVICE=simulated;' <<<"$records"
    else
        grep -qvF 'DEVICE=simulated;' <<<"$records"
    fi
)

pause() {
    [ "$poll_ms" -gt 0 ] && sleep "$((poll_ms / 1000)).$(printf %03d $((poll_ms % 1000)))"
}

# True once Ctrl+C was pressed or the stop file appeared; takes the stop file.
stop_requested() {
    if [ -z "$stop_by" ] && [ -e "$stop_file" ]; then
        rm -f -- "$stop_file"
        stop_by="the stop file"
    fi
    [ -n "$stop_by" ]
}
trap 'stop_by="Ctrl+C"' INT

big() {
    case $1 in
        PASS) say_in "$green" ' ####    ###    ####   ####'
            say_in "$green" ' #   #  #   #  #      #'
            say_in "$green" ' ####   #####   ###    ###'
            say_in "$green" ' #      #   #      #      #'
            say_in "$green" ' #      #   #  ####   ####' ;;
        FAIL) say_in "$red" ' #####   ###   #####  #'
            say_in "$red" ' #      #   #    #    #'
            say_in "$red" ' ####   #####    #    #'
            say_in "$red" ' #      #   #    #    #'
            say_in "$red" ' #      #   #  #####  #####' ;;
        REFUSED) say_in "$yellow" ' ####   #####  #####  #   #   ####  #####  ####'
            say_in "$yellow" ' #   #  #      #      #   #  #      #      #   #'
            say_in "$yellow" ' ####   ####   ####   #   #   ###   ####   #   #'
            say_in "$yellow" ' #  #   #      #      #   #      #  #      #   #'
            say_in "$yellow" ' #   #  #####  #       ###   ####   #####  ####' ;;
    esac
}

# One board's result: the line (time, serial, result, why), the big word and
# the running totals.
result() {
    local colour=$green
    case $1 in
        PASS) passed=$((passed + 1)) ;;
        FAIL) failed=$((failed + 1)) colour=$red ;;
        REFUSED) refused=$((refused + 1)) colour=$yellow ;;
    esac
    local word
    now %H:%M:%S
    printf -v word '%-7s' "$1"
    say_in "$colour" "$now  ${2:-????????}  $word  $3"
    big "$1"
    say "Totals: $passed passed, $failed failed, $refused refused. Remove the OB310."
    mode=removal announced=0 two_shown=0 serial=$2
}

# A STOP that ends the session (a fault of the station's set-up).
stop_session() {
    say "$(explain)"
    [ "$status" != 126 ] || status=127
    now '%Y-%m-%d %H:%M:%S'
    say "$now  Session ended by a STOP: $passed passed, $failed failed, $refused refused"
    exit "$status"
}

# Everything is checked before the first device is touched: the report, the
# tool, the PIN and the log (a valid PIN with nothing to do opens the log and
# touches no device), and the file's data lines 1 and 6.
if ! : >>"$report" 2>/dev/null; then
    echo "STOP: the report $report can not be written"
    exit 16
fi
[[ $poll_ms =~ ^[0-9]{1,6}$ ]] || { say "STOP: OB310_POLL_MS must be a number of milliseconds"; exit 16; }
poll_ms=$((10#$poll_ms))
if command -v "$cli" >/dev/null 2>&1; then tool -p "$pin" -l "$tool_log"; else status=127; fi
[ "$status" = 0 ] || stop_session
# Each board is looked up in the log, so it must be a file that can be read
# back: a FIFO would hold the session at the first board for good.
if [ ! -f "$log" ]; then
    say "STOP: the log $log is no file - production mode reads it back"
    exit 16
fi
read_expected || stop_session
rm -f -- "$stop_file"
now '%Y-%m-%d %H:%M:%S'
say "$now  Session started: $file into each OB310 with $cli"
say "Check after writing: custom data $expect_custom, $expect_lock"
say "Log $log, report $report"
say "Stop with Ctrl+C or by creating $stop_file"

# The loop: wait for one OB310, write it, check it, wait until it is gone.
mode=device     # device: waiting for one; removal: waiting for $serial to go
announced=0     # "Waiting for an OB310 ..." stands for this wait
two_shown=0     # "connect exactly one" stands until the next change
serial=
while ! stop_requested; do
    if [ "$mode" = device ] && [ "$announced" = 0 ]; then
        say "Waiting for an OB310 ..."
        announced=1
    fi
    tool -i
    case $status in
        0) read_info ;;
        1) mode=device two_shown=0; pause; continue ;;
        # A device that does not answer fails once, then has to go.
        4) [ "$mode" = device ] && result FAIL "" "$(error_text)"
           pause; continue ;;
        *) stop_session ;;
    esac
    # The board that had to go is still there (or one that never answered).
    if [ "$mode" = removal ] && { [ -z "$serial" ] || [ "$i_serial" = "$serial" ]; }; then
        pause
        continue
    fi
    serial=$i_serial erases=$i_erases
    if written_before "$serial" && [[ $rerun != *" $serial "* || $written == *" $serial "* ]]; then
        result REFUSED "$serial" "already written; OB310_RERUN=$serial writes it again"
        continue
    fi
    tool -f "$tool_file" -p "$pin" -l "$tool_log"
    case $status in
        0) ;;
        1) pause; continue ;;       # gone before the write began
        2) [ "$two_shown" = 1 ] || say "$(explain)"
           two_shown=1; pause; continue ;;
        4) result FAIL "$serial" "$(error_text)"; continue ;;
        *) stop_session ;;
    esac
    written+="$serial "
    # The check: the device shows what the file says, and one erase more
    # (the count stops at 65535).
    expect_erases=$((erases < 65535 ? erases + 1 : 65535))
    tool -i
    if [ "$status" != 0 ]; then
        result FAIL "$serial" "written, but the check got no answer: $(error_text)"
        continue
    fi
    read_info
    mismatch=
    [ "$i_custom" = "$expect_custom" ] || mismatch+="; custom data $i_custom, expected $expect_custom"
    [ "$i_lock" = "$expect_lock" ] || mismatch+="; lock $i_lock, expected $expect_lock"
    [ "$i_erases" = "$expect_erases" ] || mismatch+="; erase count $i_erases, expected $expect_erases"
    [ "$i_serial" = "$serial" ] || mismatch+="; serial $i_serial, expected $serial"
    if [ -n "$mismatch" ]; then
        result FAIL "$serial" "check: ${mismatch#; }"
    else
        result PASS "$serial" "written, checked and logged (erase count $i_erases)"
    fi
done
now '%Y-%m-%d %H:%M:%S'
say "$now  Session ended by $stop_by: $passed passed, $failed failed, $refused refused"
exit 0
