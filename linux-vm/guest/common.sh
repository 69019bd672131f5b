# Helpers of the guest's scenarios, sourced by each. The scenario sets TAG,
# the prefix of every line meant for the host, and PIN_HELD and SERIAL, the
# virtual OB310's PIN and serial number, before it sources this file.

passed=0
failed=0
gadget_pid=

say() { echo "$TAG: $*"; }
pass() {
    passed=$((passed + 1))
    say "PASS $*"
}
fail() {
    failed=$((failed + 1))
    say "FAIL $*"
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
