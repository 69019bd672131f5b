#!/bin/sh
# The checks run inside the test machine: ob310_cli against the virtual OB310
# (ob310_gadget) through the kernel's dummy_hcd, usbhid and hidraw.
# Every line meant for the host starts with "vm-test:". Exit status 0 when
# every check passed.

PIN_HELD=0123456789ABCDEF
SERIAL=12345678
VERSION=1026
FACTORY_PIN=5A3C19E7B2D40F86
EXAMPLE=/data/example.ob310
PIN_LOCK=/data/pin-lock.ob310  # new PIN 1122334455667788, locks the device

TAG=vm-test
. /common.sh

# check NAME EXPECTED_EXIT COMMAND...: runs COMMAND with a time limit and
# compares its exit status and its standard output with /tmp/expected, byte
# for byte. Nothing may appear on standard error.
check() {
    name=$1
    want=$2
    shift 2
    timeout 150 "$@" >/tmp/actual 2>/tmp/stderr
    got=$?
    if [ "$got" -eq "$want" ] && cmp -s /tmp/actual /tmp/expected && [ ! -s /tmp/stderr ]; then
        pass "$name"
        return 0
    fi
    fail "$name: exit $got (expected $want)"
    show_difference
    return 1
}

# check_text NAME EXPECTED ACTUAL: a plain comparison of two texts.
check_text() {
    if [ "$2" = "$3" ]; then
        pass "$1"
    else
        fail "$1: expected '$2', got '$3'"
    fi
}

# at_most A LIMIT: yes when A <= LIMIT.
at_most() { awk -v a="$1" -v l="$2" 'BEGIN { print (a <= l) ? "yes" : "no" }'; }

# The custom data and lock state -i shows after writing FILE.
custom_of() { data_line "$1" 1 | tr 'A-F' 'a-f'; }
lock_of() {
    if data_line "$1" 6 | grep -qE '^[[:space:]]*[+]?0?1$'; then echo locked; else echo open; fi
}

# --- Timing against a peer: Debian's hidapi doing what -i does -----------------
# Run in a boot of its own, whose guest time runs on the instruction counter
# at 1 ns per instruction (-icount shift=0): each figure is the same from run
# to run. "held": another process holds all six nodes open,
# so no open() pays usbhid's 50 ms start of the interrupt-in pipe.
timing_checks() {
    if hidapi_peer >/tmp/peer.out; then
        pass "the hidapi peer queries the device"
    else
        fail "the hidapi peer: $(cat /tmp/peer.out)"
    fi
    cli_free=$(ob310_usb_probe --run 5 ob310_cli -i)
    peer_free=$(ob310_usb_probe --run 5 hidapi_peer)
    holds=
    fd=3
    for node in $(ls /sys/class/hidraw); do holds="$holds $fd</dev/$node"; fd=$((fd + 1)); done
    sh -c "exec $holds; exec sleep 100000" &
    holder=$!
    usleep 200000
    cli_held=$(ob310_usb_probe --run 10 ob310_cli -i)
    peer_held=$(ob310_usb_probe --run 10 hidapi_peer)
    raw=$(ob310_usb_probe --time 200 | sed 's/.*average \([0-9]*\) us.*/\1/')
    # A whole write: the query, the erase, 248 key-table records, custom data,
    # LED, mouse, new PIN and debounce (the example does not lock).
    write_exchanges=255
    write_held=$(ob310_usb_probe --run 1 ob310_cli -f "$EXAMPLE" -p "$PIN_HELD")
    kill "$holder"
    wait "$holder" 2>/dev/null
    per_exchange=$(awk -v f="$write_held" -v i="$cli_held" -v n=$write_exchanges \
        'BEGIN { printf "%.1f", (f - i) / (n - 1) }')
    say "TABLE | Run (guest time, -icount shift=0) | ob310_cli | hidapi peer | ratio |"
    say "TABLE |---|---|---|---|"
    say "TABLE | -i, nodes free | $cli_free us | $peer_free us | $(ratio "$cli_free" "$peer_free") |"
    say "TABLE | -i, nodes held by another process | $cli_held us | $peer_held us | $(ratio "$cli_held" "$peer_held") |"
    say "TABLE | one exchange of -f (nodes held) against the raw write+poll+read loop | $per_exchange us | $raw us (raw) | $(ratio "$per_exchange" "$raw") |"
    check_text "-i with free nodes within 1.05 x the peer" yes \
        "$(at_most "$(ratio "$cli_free" "$peer_free")" 1.05)"
    check_text "-i with held nodes at most 3.1 ms" yes "$(at_most "$cli_held" 3100)"
    check_text "an exchange of -f within 1 % of the raw loop" yes \
        "$(at_most "$(ratio "$per_exchange" "$raw")" 1.01)"
}

# The host boots the machine twice: once for the checks, once (with
# ob310.part=timing on the kernel command line) for the timing.
if grep -q 'ob310\.part=timing' /proc/cmdline; then
    say "kernel $(uname -r), timing starts at $(uptime_now) s of guest time"
    start_gadget --version "$VERSION" || exit 1
    timing_checks
    stop_gadget || exit 1
    say "$passed passed, $failed failed, guest time $(uptime_now) s"
    [ "$failed" -eq 0 ]
    exit
fi

say "kernel $(uname -r), checks start at $(uptime_now) s of guest time"

# --- What the kernel presents ------------------------------------------------
# The reply to request 2 (the query of the refused erase below) comes twice.
start_gadget --version "$VERSION" --reply-twice 2 || exit 1
ob310_usb_probe --list | sed 's/^hidraw[0-9]* //' >/tmp/nodes
printf '%s\n' "interface=Keyboard bcdDevice=$VERSION" "interface=Keypad bcdDevice=$VERSION" \
    "interface=Consumer bcdDevice=$VERSION" "interface=Mouse bcdDevice=$VERSION" \
    "interface=LEDs bcdDevice=$VERSION" "interface=ConfigInterface bcdDevice=$VERSION" \
    "nodes=6" >/tmp/expected
check "six hidraw nodes with their interface strings" 0 cat /tmp/nodes

# The udev rule matches on attributes of a parent of the hidraw node (ATTRS):
# the kernel must show them with exactly the rule's values on all six nodes.
rule_value() {
    sed -n "s/^SUBSYSTEM==\"hidraw\".*ATTRS{$1}==\"\([^\"]*\)\".*TAG+=\"uaccess\".*/\1/p" \
        /data/70-ob310.rules
}
vendor=$(rule_value idVendor)
product=$(rule_value idProduct)
matched=0
for node in /sys/class/hidraw/*; do
    dir=$(readlink -f "$node/device")
    while [ "$dir" != /sys ] && [ "$dir" != / ]; do
        if [ -f "$dir/idVendor" ]; then
            if [ "$(cat "$dir/idVendor")" = "$vendor" ] && [ "$(cat "$dir/idProduct")" = "$product" ]; then
                matched=$((matched + 1))
            fi
            break
        fi
        dir=$(dirname "$dir")
    done
done
check_text "the udev rule ($vendor:$product) matches the six hidraw nodes" 6 "$matched"

# --- The tool ----------------------------------------------------------------
if [ -x /bin/ob310_cli ]; then
    info_lines 00000000000000000000000000000000 open 0 "$SERIAL" "$VERSION" >/tmp/expected
    check "-i prints the device information" 0 ob310_cli -i

    # Without a udev rule the hidraw nodes are root's alone (0600): a user who
    # may not open them learns why no OB310 is found.
    mkdir -p /etc && echo 'nobody:x:65534:65534::/:/bin/sh' >>/etc/passwd
    { error_line "Error: No OB310 found on system" 1
      echo 'An OB310 is attached, but its hidraw nodes cannot be opened (permission denied): see "Access without root" in the README.'
    } >/tmp/expected
    check "-i as a user who may not open the hidraw nodes" 1 su -s /bin/sh nobody -c '/bin/ob310_cli -i'

    # The device refuses the erase with a reply shorter than its 64-byte input
    # report. Current kernels drop such a report in hid-core ("Event data for
    # report 0 was too short"), so the tool sees no reply and gives up after
    # its 16 waits; older ones hand the short reply on. Either way the erase
    # has failed.
    # The reply to the query before it comes twice; the stale copy, taken as
    # the erase's reply, would read as an accepted erase. The copy reaches
    # hidraw one tick of dummy_hcd's frame timer after the first, and the
    # tool, woken by the first, empties the queue long before that. strace
    # holds the tool for 50 ms after each wait returns, as a busy machine
    # does: the copy is then queued when the tool empties the queue before
    # the erase, every time.
    error_line "Error: OB310 can not erased." 4 >/tmp/expected
    started=$(uptime_now)
    check "-c with a wrong PIN is refused, a stale reply queued" 4 \
        strace -qq -o /dev/null -e trace=poll,ppoll -e inject=poll,ppoll:delay_exit=50000 \
        ob310_cli -c -p 0000000000000000 -l /tmp/refused.log
    say "TIME the refused erase ended after $(elapsed_since "$started") s of guest time"
    check_text "a refused erase writes no log line" "0" "$(wc -c </tmp/refused.log)"

    : >/tmp/expected
    check "-c with the PIN held erases" 0 ob310_cli -c -p "$PIN_HELD" -l /tmp/erase.log
    check_log "-l records the erase" /tmp/erase.log \
        "CMD=erase;STATE=success;SN=$SERIAL;REV=$VERSION;"

    info_lines 00000000000000000000000000000000 open 1 "$SERIAL" "$VERSION" >/tmp/expected
    check "-i after the erase counts one erase" 0 ob310_cli -i

    printf '%s\n' "Start programming OB310. Code=0x0000" "Erase OB310. Code=0x0000" \
        "Success: Write complete. Code=0x0000" >/tmp/expected
    started=$(uptime_now)
    check "-f writes the example file" 0 \
        ob310_cli -f "$EXAMPLE" -p "$FACTORY_PIN" -l /tmp/write.log -v
    say "TIME -f (erase and 254 requests after the query) took $(elapsed_since "$started") s"
    check_log "-l records the write" /tmp/write.log \
        "CMD=write;STATE=success;SN=$SERIAL;REV=$VERSION;FILE=$EXAMPLE;"

    info_lines "$(custom_of "$EXAMPLE")" "$(lock_of "$EXAMPLE")" 2 "$SERIAL" "$VERSION" >/tmp/expected
    check "-i shows what -f wrote" 0 ob310_cli -i

    # A second write changes the PIN and locks the device: the erase needs the
    # example's new PIN, and the requests after the new PIN still carry the
    # factory-default one.
    : >/tmp/expected
    check "-f with a new PIN and the lock" 0 ob310_cli -f "$PIN_LOCK" -p "$(data_line "$EXAMPLE" 0)"
    info_lines "$(custom_of "$PIN_LOCK")" locked 3 "$SERIAL" "$VERSION" >/tmp/expected
    check "-i shows the locked device" 0 ob310_cli -i
    : >/tmp/expected
    check "-c with the file's new PIN erases" 0 ob310_cli -c -p "$(data_line "$PIN_LOCK" 0)"
    info_lines 00000000000000000000000000000000 open 4 "$SERIAL" "$VERSION" >/tmp/expected
    check "-i after erasing the locked device" 0 ob310_cli -i

fi

# One exchange through the USB stack, timed without the tool around it.
if timing=$(ob310_usb_probe --time 200); then
    pass "200 raw information queries on the ConfigInterface node"
else
    fail "raw information queries: $timing"
fi
say "TIME $timing"

# --- The device goes away in the middle of a write ----------------------------
# (Without ob310_cli nothing would ever make the request it leaves at.)
stop_gadget || exit 1
if [ -x /bin/ob310_cli ]; then
    start_gadget --leave-at 100 || exit 1
    error_line "Error: Fail to write keytables" 4 >/tmp/expected
    started=$(uptime_now)
    check "-f on a device unplugged at request 100" 4 ob310_cli -f "$EXAMPLE" -p "$PIN_HELD"
    waited=$(elapsed_since "$started")
    check_text "the unplugged device fails the write at once" yes "$(at_most "$waited" 1)"
    say "TIME the unplugged device failed the write after $waited s of guest time"
    # Ended by the unplug, or stopped here when the write failed before it.
    stop_gadget || exit 1
fi

# --- A device that leaves one request unanswered ------------------------------
start_gadget --version 1025 --silent-request 2 || exit 1
if [ -x /bin/ob310_cli ]; then
    info_lines 00000000000000000000000000000000 open 0 "$SERIAL" 1025 >/tmp/expected
    check "-i on a device of another version" 0 ob310_cli -i

    error_line "Error: Can not get device information of OB310" 4 >/tmp/expected
    started=$(uptime_now)
    check "-i with the query unanswered" 4 ob310_cli -i
    waited=$(elapsed_since "$started")
    say "TIME the unanswered query gave up after $waited s of guest time"
    check_text "the unanswered query waits 16 x 5 s" yes \
        "$(awk -v w="$waited" 'BEGIN { print (w >= 80 && w < 90) ? "yes" : "no" }')"
fi

# --- Two devices, the second one's nodes made first ----------------------------
# hidraw numbers follow creation: the device on the second controller (bus 2)
# gets hidraw0 to 5. The tool still takes the device on bus 1 as the first.
stop_gadget || exit 1
SECOND_SERIAL=87654321
ob310_gadget --udc dummy_udc.1 --name second --ffs-dir /dev/second-ffs --serial "$SECOND_SERIAL" \
    --pin "$PIN_HELD" >>/tmp/gadget.log 2>&1 &
second_pid=$!
wait_nodes 6 || exit 1
NODES=12 start_gadget --udc dummy_udc.0 || exit 1
if [ -x /bin/ob310_cli ]; then
    error_line "Error: More than on OB310 detected." 2 >/tmp/expected
    check "-f with two devices refuses" 2 ob310_cli -f "$EXAMPLE" -p "$PIN_HELD"
    info_lines 00000000000000000000000000000000 open 0 "$SERIAL" "$VERSION" >/tmp/expected
    check "-i with two devices shows the one on bus 1" 0 ob310_cli -i
    : >/tmp/expected
    check "-c with two devices" 0 ob310_cli -c -p "$PIN_HELD"
    info_lines 00000000000000000000000000000000 open 1 "$SERIAL" "$VERSION" >/tmp/expected
    check "-c erased the device on bus 1" 0 ob310_cli -i
fi
stop_gadget 6 || exit 1
if [ -x /bin/ob310_cli ]; then
    info_lines 00000000000000000000000000000000 open 0 "$SECOND_SERIAL" "$VERSION" >/tmp/expected
    check "the device on bus 2 was left alone" 0 ob310_cli -i
fi
gadget_pid=$second_pid

# --- No device at all ----------------------------------------------------------
stop_gadget || exit 1
if [ -x /bin/ob310_cli ]; then
    error_line "Error: No OB310 found on system" 1 >/tmp/expected
    check "-i without a device" 1 ob310_cli -i
    check "-c without a device" 1 ob310_cli -c -p "$FACTORY_PIN"
    check "-f without a device" 1 ob310_cli -f "$EXAMPLE" -p "$FACTORY_PIN"
else
    say "ob310_cli not in the image: only the device checks ran"
fi

echo "--- gadget log"
cat /tmp/gadget.log
say "$passed passed, $failed failed, guest time $(uptime_now) s"
[ "$failed" -eq 0 ]
