#!/usr/bin/env bash
# The log file against the real system, with processes of the native build
# (ob310_cli_sim, so a device is there):
#   flush        strace of a successful -f -l run: the record is written, then
#                flushed (fsync) and closed, before the process exits
#   flush error  a failing fsync or close (strace fault injection) gives
#                "Error: Can not write logfile", 16
#   full disk    a 64 KiB tmpfs with 40 bytes left: 16, and the log keeps no
#                part of the line; the next run's record is whole on its own
#                line (needs root for the mount; skipped otherwise)
#   file limit   ulimit -f reached at the log write: 16, not SIGXFSZ
#   pipe         -f <(...): a configuration from a pipe with a writer reads
# Usage: check-log.sh [BUILD_DIR]   (default build/native)
# Exit status: 0 all passed, 1 a check failed, 77 without strace.
set -u
cd "$(dirname "$0")/.."
sim=$(realpath "${1:-build/native}/ob310_cli_sim")
example=$(realpath examples/example.ob310)
pin=5A3C19E7B2D40F86
write_error=$'\e[31mError: Can not write logfile. Code=0x0010\e[0m'
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

# --- a configuration from a pipe that has a writer.
fresh pipe
"$sim" -f <(cat "$example") -p "$pin" -l pipe.log >out
rc=$?
check "-f <(...) reads the pipe (exit $rc)" test "$rc:$(grep -cE "$record" pipe.log)" = "0:1"

exit $failed
