#!/usr/bin/env bash
# The log file against the real system, with processes of the native build
# (ob310_cli_sim, so a device is there):
#   flush        strace of a successful -f -l run: the record is written, then
#                flushed (fsync) and closed, before the process exits; the run
#                made the log, so its folder is flushed too
#   flush error  a failing fsync or close (strace fault injection) gives
#                "Error: Can not write logfile", 16
#   full disk    a 64 KiB tmpfs with 40 bytes left: 16, and the log keeps no
#                part of the line; the next run's record is whole on its own
#                line (needs root for the mount; skipped otherwise)
#   file limit   ulimit -f reached at the log write: 16, not SIGXFSZ
#   other writer a record appended without a lock while the run's write waits
#                (strace delays it), which then takes only 10 bytes: the other
#                record stays whole, and the next record starts on its own line
#   flock(1)     a script holding the log with flock(1) around the run: 0, one
#                record
#   lock held    another process keeps the log's lock: 16 before the device
#                is touched (its record shows no request)
#   lease        a read lease on the log whose holder gives way: 0, one record
#   pipes        a log on a pipe that is full when the line comes (a slow
#                reader) gets the whole line; -f <(sleep 1; cat ...) reads
#   sim files    a log that is one of the simulated OB310's own files (the
#                device file, rewritten at the run's end, would lose the
#                record): 16 before the device is touched
# and, with the Windows build under Wine (BUILD_DIR of the windows preset):
#   mixed fleet  Linux and Wine stations appending to one log at once: every
#                line exactly once, whole
#   local time   TZ=Europe/Berlin: the record is stamped with the system's
#                local time, not UTC
# Usage: check-log.sh [--native | --wine] [BUILD_DIR [WINDOWS_BUILD_DIR]]
#        (default build/native and build/windows; both groups of checks
#        without an option; a missing Windows build fails the Wine checks)
# Exit status: 0 all passed, 1 a check failed, 77 without strace.
set -u
mode=all
case ${1:-} in
  --native) mode=native; shift ;;
  --wine) mode=wine; shift ;;
esac
cd "$(dirname "$0")/.."
sim=$(realpath "${1:-build/native}/ob310_cli_sim")
helper=$(realpath "${1:-build/native}/tests/e2e/ob310_log_append_helper")
windows=$(realpath -m "${2:-build/windows}")
example=$(realpath examples/example.ob310)
pin=5A3C19E7B2D40F86
write_error=$'\e[31mError: Can not write logfile. Code=0x0010\e[0m'
open_error=$'\e[31mError: Can not open logfile. Code=0x0010\e[0m'
record=$'^[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9:]{8}: CMD=write;STATE=success;SN=[0-9A-F]*;REV=[0-9A-F]*;FILE=[^;]*;DEVICE=simulated;\r$'

command -v strace >/dev/null || { echo "check-log: SKIP: no strace"; exit 77; }
[ -x "$sim" ] || { echo "check-log: FAIL: $sim is missing"; exit 1; }
work=$(mktemp -d)
trap 'umount "$work/disk/full" 2>/dev/null; rm -rf "$work"' EXIT
failed=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "check-log: PASS $name"; else echo "check-log: FAIL $name"; failed=1; fi
}
# Each check in a fresh folder: the simulator keeps its device files there.
fresh() { rm -rf "$work/$1"; mkdir "$work/$1"; cd "$work/$1"; }

native_checks() {
# --- flush: write, fsync, close of the log's descriptor, in that order, then the exit.
fresh flush
strace -qq -s 200 -e trace=openat,write,fsync,fdatasync,close,exit_group -o trace \
  "$sim" -f "$example" -p "$pin" -l station.log >out
rc=$?
fd=$(sed -nE 's/^openat\(AT_FDCWD, "station\.log".* = ([0-9]+)$/\1/p' trace)
steps=$(sed -n "/^openat(AT_FDCWD, \"station.log\"/,\$p" trace | grep -E "^(write\($fd, \"[^\"]*CMD=write|fsync\($fd\) += 0|close\($fd\) += 0|exit_group)" |
  sed -E 's/\(.*//' | awk '!seen[$0]++' | tr '\n' ' ')
# The log's close is the Nth close of the run: only that one fails below.
log_close=$(awk -v fd="$fd" '/^close\(/ { n++ } /^fsync\(/ && $0 ~ "^fsync\\(" fd "\\)" { synced = 1 }
  synced && $0 ~ "^close\\(" fd "\\)" { print n; exit }' trace)
check "a successful run flushes its record before it exits (exit $rc: $steps)" \
  test "$rc:$steps" = "0:write fsync close exit_group "
folder=$(sed -n "/^fsync($fd) /,\$p" trace | sed -nE 's/^openat\(AT_FDCWD, "\.", [^)]*O_DIRECTORY\) = ([0-9]+)$/\1/p')
check "a run that makes its log flushes the folder too (descriptor ${folder:-none})" \
  grep -qE "^fsync\(${folder:-none}\) += 0" trace

# --- flush error: the record may be lost, so the run may not claim success.
for call in fsync close; do
  fresh $call
  out=$(strace -qq -o /dev/null -e trace=$call -e inject=$call:error=EIO:when=$([ $call = fsync ] && echo 1 || echo "${log_close:-1}") \
    "$sim" -f "$example" -p "$pin" -l station.log)
  rc=$?
  check "a failing $call gives 16 (exit $rc)" test "$rc:$out" = "16:$write_error"
done

# --- full disk: 64 KiB of tmpfs, the log's last page with 40 bytes free, the rest filled.
fresh disk
mkdir full
if mount -t tmpfs -o size=64k none full 2>/dev/null; then
  { head -c 4054 /dev/zero | tr '\0' 'x'; printf '\r\n'; } >full/station.log
  cp full/station.log before.log
  cat /dev/zero >full/filler 2>/dev/null
  out=$("$sim" -f "$example" -p "$pin" -l full/station.log)
  rc=$?
  check "a line the disk cannot take gives 16 (exit $rc)" test "$rc:$out" = "16:$write_error"
  check "and leaves no part of it in the log" cmp -s before.log full/station.log
  rm full/filler
  "$sim" -f "$example" -p "$pin" -l full/station.log >/dev/null
  rc=$?
  check "the next record is whole on its own line (exit $rc)" \
    test "$rc:$(head -c 4056 full/station.log | cmp - before.log && tail -c +4057 full/station.log | grep -cE "$record")" = "0:1"
  umount full
else
  echo "check-log: SKIP full disk: cannot mount a tmpfs (not root?)"
fi

# --- file size limit (bash counts it in 1024-byte blocks): the log is at it, the simulator's own files are not.
fresh limit
head -c 51200 /dev/zero >big.log
out=$(ulimit -f 50; exec "$sim" -f "$example" -p "$pin" -l big.log)
rc=$?
check "a file size limit at the log write gives 16 (exit $rc)" test "$rc:$out:$(stat -c %s big.log)" = "16:$write_error:51200"

# --- another writer: the run's write waits 1 s (strace), while a record is appended without a
# lock; then the file size limit lets it take 10 bytes. Only the run's own part may be cut.
fresh other
other_record=$'07.12.2026 03:49:30: CMD=erase;STATE=success;SN=00B31002;REV=1026;\r\n'
{ for i in $(seq 638); do printf '%78s\r\n' x; done; printf '%80s\r\n' x; } >station.log
cp station.log before  # 51122 bytes: the record and 10 bytes reach the limit of 51200
(ulimit -f 50; exec strace -qq -o /dev/null -P station.log -e trace=write \
  -e inject=write:delay_enter=1000000:when=1 "$sim" -c -p "$pin" -l station.log >out 2>/dev/null) &
run=$!
until grep -qs 'request 2: erase' ob310_sim_received.txt || ! kill -0 $run 2>/dev/null; do sleep 0.05; done
sleep 0.2
printf '%s' "$other_record" >>station.log
wait $run
rc=$?
check "a part of the line after another writer's record gives 16 (exit $rc)" test "$rc:$(cat out)" = "16:$write_error"
check "and leaves that record whole" \
  test "$(head -c 51190 station.log | md5sum)" = "$(printf '%s' "$other_record" | cat before - | md5sum)"
"$sim" -c -p "$pin" -l station.log >/dev/null
rc=$?
check "and the next record starts on its own line (exit $rc)" \
  test "$rc:$(tail -n 1 station.log | grep -cE "^[0-9.]{10} [0-9:]{8}: CMD=erase;.*DEVICE=simulated;"$'\r'"\$")" = "0:1"

# --- a log whose last line has no line end (edited by hand), and a log that keeps nothing.
fresh unended
printf 'OLD without newline' >station.log
"$sim" -c -p "$pin" -l station.log >/dev/null
rc=$?
check "a record after a last line without line end starts on its own line (exit $rc)" \
  test "$rc:$(head -n 1 station.log):$(tail -n +2 station.log | grep -c '^[0-9.]\{10\} [0-9:]\{8\}: CMD=erase;')" = $'0:OLD without newline\r:1'
fresh zero
out=$("$sim" -c -p "$pin" -l /dev/zero)
rc=$?
check "a device that keeps no record (/dev/zero) gives 16 before any request (exit $rc)" \
  test "$rc:$out:$(cat ob310_sim_received.txt 2>/dev/null | grep -c request)" = "16:$open_error:0"

# --- a script that holds the log with flock(1) while the tool runs: the tool's lock is another.
fresh flock
flock station.log "$sim" -c -p "$pin" -l station.log >out
rc=$?
check "a run inside flock(1) on its log keeps its record (exit $rc)" test "$rc:$(grep -c 'CMD=erase' station.log)" = "0:1"

# --- another process keeps the tool's lock: 16 before the device is touched.
fresh held
"$helper" station.log hold &
until [ -e station.log.held ] || ! kill -0 $! 2>/dev/null; do sleep 0.05; done
out=$("$sim" -c -p "$pin" -l station.log)
rc=$?
touch station.log.done
wait
check "a log whose lock another process keeps gives 16 before any request (exit $rc)" \
  test "$rc:$out:$(cat ob310_sim_received.txt 2>/dev/null | grep -c request)" = "16:$open_error:0"

# --- a read lease (a file server's oplock) on the log: the open waits until its holder gives way.
fresh lease
: >station.log
perl -e 'open(my $f, "<", $ARGV[0]) or die;
  $SIG{IO} = sub { fcntl($f, 1024, 2); exit 0 };  # F_SETLEASE F_UNLCK: give way
  fcntl($f, 1024, 0) or exit 3;                   # F_SETLEASE F_RDLCK
  open(my $m, ">", "$ARGV[0].leased"); close $m; sleep 60; exit 1' station.log &
lease=$!
until [ -e station.log.leased ] || ! kill -0 $lease 2>/dev/null; do sleep 0.05; done
if [ -e station.log.leased ]; then
  "$sim" -c -p "$pin" -l station.log >out
  rc=$?
  wait $lease
  check "a log under a read lease is opened once its holder gives way (exit $rc, lease $?)" \
    test "$rc:$(grep -c 'CMD=erase' station.log)" = "0:1"
else
  echo "check-log: SKIP lease: no lease can be taken here"
fi

# --- a log on a pipe whose reader is slower than the tool: the pipe is full when the line comes.
fresh slow
mkfifo log.fifo
(sleep 1; cat) <log.fifo >got &
exec 4>log.fifo
head -c 65536 /dev/zero >&4
"$sim" -c -p "$pin" -l log.fifo >out
rc=$?
exec 4>&-
wait
check "a log on a full pipe gets the whole line (exit $rc)" \
  test "$rc:$(tail -c +65537 got | grep -cE 'CMD=erase;.*DEVICE=simulated;'$'\r''$')" = "0:1"

# --- a configuration from a pipe whose writer is slower than the tool.
fresh pipe
"$sim" -f <(sleep 1; cat "$example") -p "$pin" -l pipe.log >out
rc=$?
check "-f <(sleep 1; cat ...) reads the whole file (exit $rc)" test "$rc:$(grep -cE "$record" pipe.log)" = "0:1"

# --- the log is a file the simulated OB310 keeps for itself.
for name in ob310_sim_device.txt ob310_sim_device.journal ob310_sim_device.txt.new ob310_sim_received.txt \
    ob310_sim_device.lock; do
  fresh "sim-$name"
  "$sim" -i >/dev/null
  before=$(cat ob310_sim_device.txt)
  out=$(OB310_SIM_DIR=. "$sim" -c -p "$pin" -l "$name")
  rc=$?
  check "a log that is the simulator's $name gives 16 before any request (exit $rc)" \
    test "$rc:$out:$(grep -c 'erase' ob310_sim_received.txt):$(cat ob310_sim_device.txt)" = "16:$open_error:0:$before"
done

}

wine_checks() {
# --- the Windows build under Wine beside the native one.
wine_helper=$windows/tests/e2e/ob310_log_append_helper.exe
if ! command -v wine >/dev/null || [ ! -f "$wine_helper" ] || [ ! -f "$windows/ob310_cli_sim.exe" ]; then
  echo "check-log: FAIL mixed fleet and local time: no wine or no Windows build in $windows"
  failed=1
  return
fi
export WINEDEBUG=-all
# Four stations of each build append to one log at once. Wine emulates the append (it reads the
# size, then writes there), so a Linux line written in between would be overwritten unless the
# two builds' locks meet. On tmpfs, where a flush costs nothing, the lines come fast enough to
# meet; the Linux stations start once the Wine ones write.
fleet=$(mktemp -d /dev/shm/ob310-fleet.XXXXXX 2>/dev/null || mktemp -d "$work/fleet.XXXXXX")
cd "$fleet"
stations=()
for tag in W1 W2 W3 W4; do wine "$wine_helper" shared.log $tag 2000 & stations+=($!); done
until grep -qs ': W' shared.log || ! kill -0 "${stations[@]}" 2>/dev/null; do sleep 0.05; done
for tag in L1 L2 L3 L4; do "$helper" shared.log $tag 20000 & done
wait
expected=$( { for tag in W1 W2 W3 W4; do seq -f "$tag %g" 0 1999; done
              for tag in L1 L2 L3 L4; do seq -f "$tag %g" 0 19999; done; } | sort)
got=$(sed -nE 's/^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9:]{8}: ([WL][1-4] [0-9]+)\r$/\1/p' shared.log | sort)
check "Linux and Wine stations on one log: every line once, whole ($(wc -l <shared.log) lines, $(printf '%s\n' "$got" | wc -l) whole)" \
  test "$(wc -l <shared.log):$got" = "88000:$expected"
cd "$work"
rm -rf "$fleet"

# The Windows build stamps its records with the system's local time whatever TZ holds; the C
# runtime would take "Europe/Berlin" for UTC.
fresh tz
hour=$(TZ=Europe/Berlin date '+%d.%m.%Y %H')
TZ=Europe/Berlin wine "$windows/ob310_cli_sim.exe" -c -p "$pin" -l tz.log >/dev/null
rc=$?
stamp=$(head -c 13 tz.log)
check "TZ=Europe/Berlin: the Windows build stamps local time ($stamp, exit $rc)" \
  test "$rc" = 0 -a \( "$stamp" = "$hour" -o "$stamp" = "$(TZ=Europe/Berlin date '+%d.%m.%Y %H')" \)

}

[ "$mode" = wine ] || native_checks
[ "$mode" = native ] || wine_checks
exit $failed
