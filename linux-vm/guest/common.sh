# Helpers and checks of the guest's scenarios, sourced by each. The scenario
# sets TAG, the prefix of every line meant for the host, PIN_HELD and SERIAL,
# the virtual OB310's PIN and serial number, and CRLF=yes when the tool's
# lines end in CR LF (the Windows build), before it sources this file.

passed=0
failed=0
gadget_pid=
ESC=$(printf '\033')
CR=$(printf '\r')

# A check's verdict, one line each: pass counts and says PASS; fail counts,
# says FAIL and goes on (the scenario's exit status tells the host).
say() { echo "$TAG: $*"; }
pass() {
    passed=$((passed + 1))
    say "PASS $*"
}
fail() {
    failed=$((failed + 1))
    say "FAIL $*"
}

# What the tool prints: each argument as a line of its own, ending as the
# tool's lines end.
lines() { for line; do printf '%s%s\n' "$line" "${CRLF:+$CR}"; done; }
# error_line TEXT CODE: an error line, red, the text, the code, colours reset.
error_line() { lines "$ESC[31m$1. Code=0x$(printf %04x "$2")$ESC[0m"; }
# info_lines CUSTOM_DATA LOCK ERASE_COUNT SERIAL REVISION: what -i prints.
info_lines() {
    lines "Custom Data = $1" "Lock status = $2" "Erase count = $3" "Serial = $4" "Revision = $5"
}

# check_log NAME FILE RECORD: FILE holds one line, the time stamp
# "dd.mm.yyyy hh:mm:ss", ": " and RECORD, ending in CR LF on every platform.
check_log() {
    stamp='[0-3][0-9]\.[01][0-9]\.[12][0-9][0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
    if [ "$(wc -l <"$2")" -eq 1 ] && [ "$(tail -c 2 "$2" | od -An -c | tr -d ' ')" = '\r\n' ] &&
        tr -d '\r' <"$2" | grep -qx "$stamp: $3"; then
        pass "$1"
    else
        fail "$1: $(wc -l <"$2") line(s): $(od -c "$2" | head -4 | tr -s ' \n' ' ')"
    fi
}

# data_line FILE N: data line N of a configuration file; comments ("#", ":"
# or ";" first) and empty lines do not count, CR is dropped.
data_line() {
    tr -d '\r' <"$1" | awk -v want="$2" '
        /^[#:;]/ || length($0) == 0 { next }
        { if (n++ == want) { print; exit } }'
}

# show_difference: what a failed check expected, what it got and its errors.
show_difference() {
    echo "--- expected"; od -c /tmp/expected | head -20
    echo "--- actual"; od -c /tmp/actual | head -20
    echo "--- stderr"; head -5 /tmp/stderr
}

uptime_now() { cut -d' ' -f1 /proc/uptime; }
# elapsed_since START [DECIMALS]: guest seconds since START, with 2 decimals
# unless told otherwise.
elapsed_since() { awk -v a="$1" -v b="$(uptime_now)" -v f="%.${2:-2}f" 'BEGIN { printf f, b - a }'; }

hidraw_count() { ls /sys/class/hidraw 2>/dev/null | wc -l; }

# wait_nodes N: waits (at most 20 s) until exactly N hidraw nodes exist.
wait_nodes() {
    tries=0
    while [ "$(hidraw_count)" -ne "$1" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ]; then
            fail "waiting for $1 hidraw nodes, have $(hidraw_count)"
            return 1
        fi
        usleep 100000
    done
}

# start_gadget [OPTION...]: the virtual OB310 on the first controller; with
# NODES set, waits for that many hidraw nodes instead of 6.
start_gadget() {
    ob310_gadget --pin "$PIN_HELD" --serial "$SERIAL" "$@" >>/tmp/gadget.log 2>&1 &
    gadget_pid=$!
    wait_nodes "${NODES:-6}"
}

# stop_gadget [NODES_LEFT]
stop_gadget() {
    kill -TERM "$gadget_pid" 2>/dev/null
    wait "$gadget_pid"
    wait_nodes "${1:-0}"
}

# ratio A B: A / B with three decimals (the timing tables).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
