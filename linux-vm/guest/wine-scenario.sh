#!/bin/sh
# The Windows build under Wine, inside the test machine, against the virtual
# OB310 (ob310_gadget) through dummy_hcd, usbhid, hidraw and Wine's HID stack
# (winebus over hidraw, hidclass, hid.dll, setupapi). Wine and its prefix come
# from the host: its root is shared read-only (9p), the prefix is seen through
# an overlay whose upper layer is in memory, and the programs run chrooted
# into the host's root. Every line meant for the host starts with
# "wine-vm-test:". Exit status 0 when every check passed.
#
# Wine reads a device's product string where Windows reads the interface's
# (iInterface), so the device presents itself with no manufacturer string,
# "ConfigInterface" as its product string and the configuration interface as
# interface 0: the first of six equally named interfaces, which is the one
# the tool takes.

. /data/wine.env  # WINE_PREFIX, WINE_EXE, EXAMPLE_HOST, WINE_PEER(_UNPROTECTED): paths on the host

PIN_HELD=0123456789ABCDEF
WRONG_PIN=0000000000000000
SERIAL=12345678
VERSION=1026
FACTORY_PIN=5A3C19E7B2D40F86
HOST=/host
WORK=/tmp/w  # in the host's root, a tmpfs: the programs' working folder
EXAMPLE=$HOST$WORK/example.ob310

TAG=wine-vm-test
CRLF=yes
. /common.sh

within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { print (v >= lo && v <= hi) ? "yes" : "no" }'; }

# in_host COMMAND...: runs COMMAND in the host's root with Wine's environment.
in_host() {
    chroot "$HOST" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp/home LC_ALL=C.UTF-8 \
        WINEPREFIX="$WINE_PREFIX" WINEDEBUG=-all "$@"
}

# Wine starts with the devices present when its server starts (no udevd
# tells it of later ones): after the device changed, the server starts anew.
# It stays up between cases (-p), so no case pays for its start.
restart_wine() {
    in_host wineserver -k 2>/dev/null
    started=$(uptime_now)
    in_host wineserver -p
    if in_host wine wineboot >/tmp/wineboot.log 2>&1; then
        say "TIME Wine's server and devices started in $(elapsed_since "$started" 1) s"
    else
        fail "wineboot: $(tail -n 3 /tmp/wineboot.log)"
    fi
}

# Wine folds an exit code above 255 (a crash's, for one) to 1 for the shell
# that started it, so where 1 is the expected code it is read inside Wine:
# the batch file writes %ERRORLEVEL% to a file.
printf '@echo off\r\nob310_cli.exe %%*\r\n>exit.txt echo %%ERRORLEVEL%%\r\n' >/tmp/run.bat

# Each line of the standard input, after the guest time it came at.
stamp_lines() { while IFS= read -r line; do echo "$(uptime_now) $line"; done; }

# run_case NAME EXPECTED_EXIT ARGUMENT...: runs ob310_cli.exe under Wine in
# WORK and compares its exit code and its standard output with
# /tmp/expected byte for byte; its time goes to $took, its output lines with
# the time they came at to /tmp/stamped.
run_case() {
    name=$1
    want=$2
    shift 2
    rm -f "$HOST$WORK/exit.txt"
    started=$(uptime_now)
    if [ "$want" -eq 1 ]; then
        in_host sh -c 'cd "$0" && exec timeout 150 wine cmd /c run.bat "$@"' "$WORK" "$@" \
            >/tmp/actual 2>/tmp/stderr
        got=$(tr -d '\r\n ' <"$HOST$WORK/exit.txt" 2>/dev/null)
    else
        { in_host sh -c 'cd "$0" && exec timeout 150 wine ob310_cli.exe "$@"' "$WORK" "$@" \
            2>/tmp/stderr; echo $? >/tmp/code; } | tee /tmp/actual | stamp_lines >/tmp/stamped
        got=$(cat /tmp/code)
    fi
    took=$(elapsed_since "$started" 1)
    if [ "$got" = "$want" ] && cmp -s /tmp/actual /tmp/expected; then
        pass "$name under Wine: exit $got, $took s"
        return 0
    fi
    fail "$name under Wine: exit '${got:-none}' (expected $want) after $took s"
    show_difference
    return 1
}

say "kernel $(uname -r), starts at $(uptime_now) s"

# --- The host's root and Wine's prefix ----------------------------------------
mkdir -p "$HOST"
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 hostroot "$HOST"; then
    fail "cannot mount the host's root"
    exit 1
fi
# The host's files are taken before memory file systems are laid over parts
# of its root, which would hide a checkout under /tmp or /run: the prefix is
# bound and overlaid here first, the program and the example copied. The
# program runs from memory: under a loaded host a lookup through 9p has been
# seen to fail.
mkdir -p /tmp/prefix-lower /tmp/prefix-upper /tmp/prefix-work /tmp/prefix /tmp/files
if ! mount -o bind "$HOST$WINE_PREFIX" /tmp/prefix-lower || ! mount -t overlay overlay \
    -o lowerdir=/tmp/prefix-lower,upperdir=/tmp/prefix-upper,workdir=/tmp/prefix-work /tmp/prefix; then
    fail "cannot lay the overlay over Wine's prefix $WINE_PREFIX"
    exit 1
fi
if ! cp "$HOST$WINE_EXE" /tmp/files/ob310_cli.exe || ! cp "$HOST$EXAMPLE_HOST" /tmp/files/example.ob310 ||
    ! cp "$HOST$WINE_PEER" /tmp/files/hidapi_peer.exe ||
    ! cp "$HOST$WINE_PEER_UNPROTECTED" /tmp/files/hidapi_peer_unprotected.exe; then
    fail "cannot read $WINE_EXE, $EXAMPLE_HOST or the peers $WINE_PEER"
    exit 1
fi
cp /tmp/run.bat /tmp/files/run.bat
mount -t proc none "$HOST/proc"
mount -t sysfs none "$HOST/sys"
mount -t devtmpfs none "$HOST/dev"
mkdir -p "$HOST/dev/shm"
mount -t tmpfs none "$HOST/dev/shm"
mount -t tmpfs none "$HOST/tmp"
mount -t tmpfs none "$HOST/run"
# (Under /tmp or /run the prefix's folder is made anew in the memory file system.)
mkdir -p "$HOST$WORK" "$HOST/tmp/home" "$HOST$WINE_PREFIX"
if ! mount -o bind /tmp/prefix "$HOST$WINE_PREFIX"; then
    fail "cannot show Wine's prefix at $WINE_PREFIX"
    exit 1
fi
cp /tmp/files/* "$HOST$WORK/"

# --- Timing against a peer: hidapi's Windows backend doing what -i does -----
# The Linux timing boot's table, on this boot's guest clock (Wine runs
# without -icount). Each figure is the median of RUNS runs in this boot, the
# tool and the peer taking turns. One exchange is timed inside the runs, so
# that neither Wine's process start nor discovery counts in it: from the line
# -f -v prints before its erase to its last line (254 exchanges), and from the
# peer's line after its first reply to its last (254 more). The same figure
# from whole runs, (T(-f) - T(-i)) / 254 and (T(255 queries) - T(1)) / 254 in
# each round, goes out as a TIME line: a process's start under Wine varies by
# more than 254 exchanges take, so it says less.
RUNS=5
EXCHANGES=254
WRITE_PIN=$(data_line "$EXAMPLE" 0)  # the PIN the example writes

# peer_timed LABEL ARGUMENT...: timed, for the peer: once more when it fails
# (hidapi under Wine was once seen to miss a reply, in some 5000).
peer_timed() { timed "$@" || timed "$@"; }

# timed LABEL PROGRAM ARGUMENT...: runs PROGRAM under Wine in WORK; its output
# between the lines "start" and "end EXIT", each line after the guest time it
# came at (microseconds), goes to /tmp/timed-LABEL. Returns PROGRAM's exit status.
timed() {
    label=$1
    shift
    { echo start; in_host sh -c 'cd "$0" && exec timeout 150 wine "$@"' "$WORK" "$@" 2>/dev/null
        echo "end $?"; } | busybox ts '%.s' | tr -d '\r' >"/tmp/timed-$label"
    grep -q '^[0-9.]* end 0$' "/tmp/timed-$label" && return
    say "TIME $* ended so: $(tail -n 2 "/tmp/timed-$label" | cut -d' ' -f2- | tr '\n' ' ')"
    return 1
}
# at LABEL TEXT: the time of the first line of /tmp/timed-LABEL that starts with TEXT.
at() { awk -v t="$2" 'substr($0, index($0, " ") + 1, length(t)) == t { print $1; exit }' "/tmp/timed-$1"; }
# span LABEL FROM TO [DIVISOR]: microseconds from line FROM to line TO, divided.
span() {
    awk -v a="$(at "$1" "$2")" -v b="$(at "$1" "$3")" -v n="${4:-1}" \
        'BEGIN { if (a == "" || b == "") print "none"; else printf "%.0f\n", (b - a) * 1e6 / n }'
}
# per_run LONG SHORT: (last line of LONG - last line of SHORT) / EXCHANGES.
per_run() {
    awk -v f="$(tail -n 1 "$1")" -v i="$(tail -n 1 "$2")" -v n=$EXCHANGES 'BEGIN { printf "%.0f\n", (f - i) / n }'
}
# median: the median of the numbers on the standard input, one a line.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

timing_runs() {
    start_gadget --version "$VERSION" --manufacturer "" --product ConfigInterface --config-first || exit 1
    restart_wine
    # One run of each first, not counted: the first run of a program under a new
    # server loads its libraries from the host through 9p. The write sets the
    # example's PIN, which the counted writes then give.
    timed warm-i ob310_cli.exe -i
    timed warm-peer hidapi_peer.exe 0
    if timed warm-f ob310_cli.exe -f example.ob310 -p "$PIN_HELD"; then
        pass "-f under Wine before the timing runs"
    else
        fail "-f under Wine before the timing runs: $(tail -n 3 /tmp/timed-warm-f | tr '\n' ' ')"
    fi
    : >/tmp/t-cli-i
    : >/tmp/t-peer-i
    : >/tmp/t-peer-u
    : >/tmp/t-cli-f
    : >/tmp/t-peer-n
    : >/tmp/t-cli-x
    : >/tmp/t-peer-x
    : >/tmp/t-cli-w
    : >/tmp/t-peer-w
    timing_failed=
    run=0
    while [ $run -lt $RUNS ]; do
        run=$((run + 1))
        timed cli-i ob310_cli.exe -i || timing_failed="$timing_failed -i($run)"
        peer_timed peer-i hidapi_peer.exe 0 || timing_failed="$timing_failed peer($run)"
        peer_timed peer-u hidapi_peer_unprotected.exe 0 || timing_failed="$timing_failed peer-u($run)"
        timed cli-f ob310_cli.exe -f example.ob310 -p "$WRITE_PIN" -v || timing_failed="$timing_failed -f($run)"
        peer_timed peer-n hidapi_peer.exe 0 $((EXCHANGES + 1)) || timing_failed="$timing_failed peer-n($run)"
        span cli-i start end >>/tmp/t-cli-i
        span peer-i start end >>/tmp/t-peer-i
        span peer-u start end >>/tmp/t-peer-u
        span cli-f start end >>/tmp/t-cli-f
        span peer-n start end >>/tmp/t-peer-n
        span cli-f "Erase OB310" "Success: Write complete" $EXCHANGES >>/tmp/t-cli-x
        span peer-n "hidapi_peer: first reply" "hidapi_peer: $((EXCHANGES + 1)) replies" $EXCHANGES >>/tmp/t-peer-x
        per_run /tmp/t-cli-f /tmp/t-cli-i >>/tmp/t-cli-w
        per_run /tmp/t-peer-n /tmp/t-peer-i >>/tmp/t-peer-w
        say "TIME run $run (us): -i $(tail -n 1 /tmp/t-cli-i), peer $(tail -n 1 /tmp/t-peer-i) (unprotected $(tail -n 1 /tmp/t-peer-u))," \
            "-f $(tail -n 1 /tmp/t-cli-f), peer x$((EXCHANGES + 1)) $(tail -n 1 /tmp/t-peer-n)," \
            "one exchange $(tail -n 1 /tmp/t-cli-x) against $(tail -n 1 /tmp/t-peer-x)"
    done
    if [ -z "$timing_failed" ]; then
        pass "$RUNS timing runs of -i, -f and the hidapi peer under Wine"
    else
        fail "timing runs under Wine that did not exit 0:$timing_failed"
    fi
    cli_i=$(median </tmp/t-cli-i)
    peer_i=$(median </tmp/t-peer-i)
    cli_x=$(median </tmp/t-cli-x)
    peer_x=$(median </tmp/t-peer-x)
    cli_w=$(median </tmp/t-cli-w)
    peer_w=$(median </tmp/t-peer-w)
    say "TABLE | Run (guest time under Wine, median of $RUNS) | ob310_cli.exe | hidapi peer | ratio |"
    say "TABLE |---|---|---|---|"
    say "TABLE | -i, whole run | $cli_i us | $peer_i us | $(ratio "$cli_i" "$peer_i") |"
    say "TABLE | one exchange (254 timed inside the runs) | $cli_x us | $peer_x us | $(ratio "$cli_x" "$peer_x") |"
    say "TIME one exchange from whole runs (median of $RUNS): $cli_w us, the peer's $peer_w us"
    say "TIME the peer built without the stack protector: -i $(median </tmp/t-peer-u) us (median of $RUNS)"
    stop_gadget || exit 1
}

# finish: the gadget's log and the count; exits 0 when every check passed.
finish() {
    in_host wineserver -k 2>/dev/null
    echo "--- gadget log"
    cat /tmp/gadget.log
    say "$passed passed, $failed failed, guest time $(uptime_now) s"
    [ "$failed" -eq 0 ]
    exit
}

# ob310.part=wine-timing on the kernel command line: the timing alone.
if grep -q 'ob310\.part=wine-timing' /proc/cmdline; then
    timing_runs
    finish
fi

# --- No device ----------------------------------------------------------------
# Wine starts without a device first: a device that left stays in its list
# until its server starts anew, so this costs no extra start.
restart_wine
error_line "Error: No OB310 found on system" 1 >/tmp/expected
run_case "-i without a device" 1 -i
run_case "-f without a device" 1 -f example.ob310 -p "$FACTORY_PIN"

# --- The device, with the reply to its first request sent twice ---------------
# It leaves the bus at request 361: the 100th of the last -f below (the cases
# before it make 261 requests).
# The device as Wine must see it, then the options of its configuration port.
start_gadget --version "$VERSION" --manufacturer "" --product ConfigInterface --config-first \
    --reply-twice 1 --leave-at 361 || exit 1
restart_wine

# The device refuses the erase with a reply shorter than its input report; the
# kernel drops it ("Event data for report 0 was too short"), so the tool waits
# out its 16 x 5 s, cancelling each read. Its query's reply came twice: the
# stale second one, taken as the erase's reply, would read as an accepted
# erase. The flush must discard it.
error_line "Error: OB310 can not erased." 4 >/tmp/expected
run_case "-c with a wrong PIN and a stale reply queued (16 x 5 s)" 4 -c -p "$WRONG_PIN" -l refused.log
# 80 s and the start of Wine's process, which a loaded host can make long.
if [ "$(within "$took" 80 140)" = yes ] && [ ! -s "$HOST$WORK/refused.log" ]; then
    pass "the refused erase under Wine waited out 16 x 5 s ($took s) and logged nothing"
else
    fail "the refused erase under Wine: $took s, log '$(cat "$HOST$WORK/refused.log")'"
fi

info_lines 00000000000000000000000000000000 open 0 "$SERIAL" "$VERSION" >/tmp/expected
run_case "-i" 0 -i

# Where an accepted erase's time goes: the verbose line comes after the
# process start, discovery and the query, the last one after the erase.
lines "Info: Erase Ombrel310" "Success: OB310 successful erased.. Code=0x0000" >/tmp/expected
run_case "-c with the PIN held" 0 -c -p "$PIN_HELD" -l erase.log -v
queried=$(awk -v a="$started" 'NR == 1 { printf "%.1f", $1 - a }' /tmp/stamped)
erased=$(awk 'NR == 1 { a = $1 } NR == 2 { printf "%.1f", $1 - a }' /tmp/stamped)
say "TIME the accepted erase took $took s: start, discovery and query $queried s, erase $erased s"
check_log "-l records the erase (CR LF) under Wine" "$HOST$WORK/erase.log" \
    "CMD=erase;STATE=success;SN=$SERIAL;REV=$VERSION;"

lines "Start programming OB310. Code=0x0000" "Erase OB310. Code=0x0000" \
    "Success: Write complete. Code=0x0000" >/tmp/expected
run_case "-f with the example" 0 -f example.ob310 -p "$FACTORY_PIN" -l write.log -v
check_log "-l records the write (CR LF) under Wine" "$HOST$WORK/write.log" \
    "CMD=write;STATE=success;SN=$SERIAL;REV=$VERSION;FILE=example.ob310;"

# The erases so far: the one with the PIN held and the one of -f.
info_lines "$(data_line "$EXAMPLE" 1 | tr 'A-F' 'a-f')" open 2 "$SERIAL" "$VERSION" >/tmp/expected
run_case "-i shows the custom data -f wrote" 0 -i

# --- The device leaves the bus in the middle of -f ----------------------------
# When the device left: a watcher notes the guest time its nodes went.
rm -f /tmp/left-at
(while [ "$(hidraw_count)" -ne 0 ]; do usleep 100000; done; uptime_now >/tmp/left-at) &
watcher=$!
error_line "Error: Fail to write keytables" 4 >/tmp/expected
run_case "-f on a device unplugged at its request 100" 4 -f example.ob310 -p "$(data_line "$EXAMPLE" 0)"
ended=$(uptime_now)
stop_gadget || exit 1
wait "$watcher"
after=$(awk -v a="$(cat /tmp/left-at)" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')
say "TIME the unplugged device failed the write $after s after it left ($took s in all)"
# The bound after the device left: the request's write (5 s) and its 16 reads
# of 5 s, and a few seconds for Wine.
if [ "$(within "$after" 0 95)" = yes ]; then
    pass "the unplugged device under Wine ended the write within its bound ($after s after it left)"
else
    fail "the unplugged device under Wine ended the write $after s after it left"
fi

timing_runs
finish
