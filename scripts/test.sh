#!/usr/bin/env bash
# The test command: every suite of ob310_cli, each one's time, and a summary that names every
# failed check on a line of its own and ends with
#   Total: N passed, N failed, N skipped in M min S s
#
#   scripts/test.sh            the whole run (what CI runs)
#   scripts/test.sh --quick    the edit-and-test loop: format, mutation rows, the native build and
#                              its tests, the log file with real processes
#   scripts/test.sh SUITE...   these suites and those they need (--list names them all)
#
# A check is a ctest case, or a line a suite prints as "PASS what", "FAIL what" or "SKIP what"
# (after an optional "tag: "; "FAIL: what" too); a suite that prints none is one check, judged by
# its exit status (0 passes, 77 is skipped, anything else fails). Each suite's whole output is in
# build/test-logs/SUITE.log. Two suites run at a time, besides those marked --alongside; a suite
# that needs another runs after it, and is skipped with the reason when that one failed or was
# skipped. On Debian it installs the packages it needs when they are missing (as root).
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
run_started=$(date +%s)

# --- The suites -----------------------------------------------------------------------------------
# suite ID [--quick] [--needs ID,...] [--alongside] [--timing] [--uses RESOURCE] TITLE COMMAND...
#   --quick      part of --quick
#   --needs      runs after these have passed; skipped when one of them failed or was skipped
#   --alongside  mostly waits (a device's time-outs, the network): runs besides the two at a time
#   --timing     its checks bound times: it runs at the usual priority, the others under nice 10,
#                so that the builds beside it cannot starve it
#   --uses       no two suites that use one RESOURCE run at once
ids=() titles=() commands=() needs=() quick=() alongside=() timing=() uses=()
suite() {
  local id=$1 n= q=no a=no t=no u=
  shift
  while :; do
    case $1 in
      --quick) q=yes; shift ;;
      --needs) n=${2//,/ }; shift 2 ;;
      --alongside) a=yes; shift ;;
      --timing) t=yes; shift ;;
      --uses) u=$2; shift 2 ;;
      *) break ;;
    esac
  done
  ids+=("$id") titles+=("$1") needs+=("$n") quick+=("$q") alongside+=("$a") timing+=("$t") uses+=("$u")
  shift
  commands+=("$(printf '%q ' "$@")")
}

# A suite starts as soon as what it needs has passed and a place is free, in the order of these
# lines: what ends latest first. The Windows build's boot under qemu takes longest, so the
# Windows build comes early; the Linux boots, which need little built, begin while it builds.
# The two qemu suites keep work folders of their own (Debian's kernel is fetched once, into
# build/linux-vm/cache), so they can run at once.
static=build/linux-static
vm_programs=(--gadget $static/linux-vm/ob310_gadget --probe $static/linux-vm/ob310_usb_probe --cache build/linux-vm/cache)
suite format --quick "format (clang-format)" scripts/check-format.sh
suite mutants --quick "mutation rows match the code (scripts/mutants.sh --check)" scripts/mutants.sh --check
suite vm-build "static Linux build for the qemu machines (linux-static)" build_preset linux-static
suite windows-build "Windows build (mingw-w64)" build_preset windows
# The Windows build under Wine inside a machine with a real kernel, against the virtual OB310.
suite wine-vm --needs windows-build,vm-build --alongside --timing "Windows build under Wine on a real kernel (qemu)" \
  linux-vm/run-vm-test.sh --wine --exe build/windows/ob310_cli.exe "${vm_programs[@]}" --work build/linux-vm-wine
suite vm --needs vm-build --timing "Linux kernel (qemu)" linux-vm/run-vm-test.sh --cli $static/ob310_cli "${vm_programs[@]}"
suite native-build --quick "native build" build_preset native
suite native --quick --needs native-build "native tests" ctest_preset native
suite log --quick --needs native-build "log file with real processes (flush, full disk, other writers)" \
  scripts/check-log.sh --native build/native
suite windows --needs windows-build "Windows tests under Wine" ctest_preset windows
# Linux and Wine stations on one log at once, and the Windows build's time stamp.
suite log-wine --needs native-build,windows-build "log file shared by Linux and Wine stations" \
  scripts/check-log.sh --wine build/native build/windows
# What ships, from the packages themselves. The zip and the MSI are made from the windows preset's
# build, whose programs are the windows-tools preset's bytes: the reproducible check builds
# windows-tools from a copy of the sources and compares. The package checks share a scratch folder.
suite deb --uses check-run "package: .deb (debhelper, lintian, C library floor)" scripts/check-packages.sh deb
suite bullseye --needs deb --alongside "package: .deb in a Debian 11 root" scripts/check-packages.sh bullseye
suite zip --needs windows-build --uses check-run "package: Windows zip and MSI" scripts/check-packages.sh zip
suite reproducible --needs deb,zip "package: reproducible (.deb and zip built again from a copy)" \
  scripts/check-packages.sh reproducible
suite sanitize "sanitize build and tests (ASan, UBSan)" sanitize_preset
suite fuzz "fuzz (configuration reader, descriptor parser)" fuzz/run-short.sh
suite resources --needs zip "package: .exe version and manifest resources" scripts/check-packages.sh resources
suite man --needs deb "package: man pages render" scripts/check-packages.sh man
suite station-sh --needs deb --uses check-run "package: station script (bash)" scripts/check-packages.sh station-sh
suite station-bat --needs zip --uses check-run "package: station script (.bat, Wine cmd)" \
  scripts/check-packages.sh station-bat
suite msi --needs zip "package: MSI installed, run from PATH, removed (Wine)" scripts/check-packages.sh msi

# --- Running a suite ------------------------------------------------------------------------------
# build_preset PRESET: configures and builds; a failure is named by its first error.
build_preset() {
  local out rc
  out=$(mktemp)
  cmake --preset "$1" >"$out" 2>&1 && cmake --build --preset "$1" >>"$out" 2>&1
  rc=$?
  cat "$out"
  [ $rc = 0 ] || echo "FAIL: cmake --build --preset $1: $(grep -m1 -E 'error|Error' "$out" | cut -c1-160)"
  rm -f "$out"
  return $rc
}
sanitize_preset() { build_preset sanitize && ctest_preset sanitize; }

# ctest_preset PRESET: runs the built preset's tests two at a time and prints a check line per
# ctest test; a test that runs a whole GoogleTest program (one per program under Wine) gives one
# FAIL line per failed case.
ctest_preset() {
  local preset=$1 out
  out=$(ctest --preset "$preset" -j2 2>&1)
  echo "$out"
  awk '
    function close_test() {
      if (failing != "" && cases == 0) print "ctest: FAIL " failing ": " how
      failing = ""; cases = 0
    }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      close_test()
      name = $0; sub(/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: /, "", name); sub(/ .*/, "", name)
      if ($0 ~ / Passed /) print "ctest: PASS " name
      else if ($0 ~ /\*\*\*Skipped|Not Run/) print "ctest: SKIP " name
      else { failing = name; how = $0; sub(/^.*\*\*\*/, "", how); sub(/ +[0-9.]+ sec$/, "", how) }
      next
    }
    failing != "" && /^\[  FAILED  \] [A-Za-z_][^ ]*( \(|$)/ && !seen[failing, $4]++ {
      print "ctest: FAIL " failing ": " $4; cases++
    }
    END { close_test() }' <<<"$out"
  grep -qE '^[0-9]+% tests passed' <<<"$out" || { echo "FAIL: ctest --preset $preset gave no result"; return 1; }
}

# A shell of its own, output to the suite's log: the command, then the processor time of all the
# processes it waited for ("times": the shell's own, then its children's; not in a pipe, whose
# shell would have no children).
run_suite() {
  local i=$1 rc
  [ "${timing[$i]}" = yes ] || renice -n 10 -p $BASHPID >/dev/null
  eval "${commands[$i]}"
  rc=$?
  times >"$logs/${ids[$i]}.times"
  exit $rc
}

# Seconds as "4 min 05 s" or "42 s".
duration() { if [ "$1" -ge 60 ]; then printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); else printf '%d s' "$1"; fi; }
# The processor seconds of a suite's processes: the children's line of "times", user and system.
cpu_seconds() {
  awk 'NR == 2 { for (f = 1; f <= NF; f++) { split($f, p, /[ms]/); t += p[1] * 60 + p[2] } }
    END { printf "%d", t + 0.5 }' "$1" 2>/dev/null
}

# --- Before anything is built ---------------------------------------------------------------------
quick_only=no listing=no wanted=()
for arg in "$@"; do
  case $arg in
    --quick) quick_only=yes ;;
    --list) listing=yes ;;
    -*) echo "usage: scripts/test.sh [--quick | --list | SUITE...]"; exit 2 ;;
    *) wanted+=("$arg") ;;
  esac
done
if [ $listing = yes ]; then
  for i in "${!ids[@]}"; do printf '%-13s %s%s\n' "${ids[$i]}" "${titles[$i]}" "${needs[$i]:+ (needs ${needs[$i]// /, })}"; done
  exit 0
fi

# The suites to run: all, the quick ones, or the ones named and what they need.
declare -A index=() selected=()
for i in "${!ids[@]}"; do index[${ids[$i]}]=$i; done
select_suite() {
  [ -n "${index[$1]+x}" ] || { echo "scripts/test.sh: no suite $1 (scripts/test.sh --list)"; exit 2; }
  [ -z "${selected[$1]+x}" ] || return 0
  selected[$1]=1
  local need
  for need in ${needs[${index[$1]}]}; do select_suite "$need"; done
}
for i in "${!ids[@]}"; do
  if [ ${#wanted[@]} = 0 ]; then
    [ $quick_only = no ] || [ "${quick[$i]}" = yes ] && selected[${ids[$i]}]=1
  fi
done
for id in "${wanted[@]}"; do select_suite "$id"; done

# The package checks: scdoc (man pages), groff-base (renders them), debhelper (builds the .deb),
# lintian, wixl and msitools (the MSI), debootstrap (the Debian 11 root), git (the commit's time
# and name for a copy of the sources).
package_tools=(scdoc groff-base dpkg-dev debhelper lintian wixl msitools debootstrap git)
packages=(cmake make g++ clang-format googletest libgtest-dev libgmock-dev libbenchmark-dev clang
          libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64 qemu-system-x86
          busybox-static cpio libhidapi-dev strace e2fsprogs)
missing=()
for p in "${packages[@]}" "${package_tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "== installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "missing Debian packages (run as root to install them): ${missing[*]}"
    exit 1
  fi
fi

export WINEDEBUG=-all
# File names in any language are UTF-8 here, and Wine maps them to Windows names through the
# locale's character set: without a UTF-8 locale (a bare root shell has none) it cannot create
# them. C.UTF-8 is part of every Debian system.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
logs=$root/build/test-logs
rm -rf "$logs" && mkdir -p "$logs" || exit 1

# --- Running them ---------------------------------------------------------------------------------
declare -A state=() suite_of=() wall=() counts=()
failures=() skips=()
passed=0 failed=0 skipped=0 lanes_busy=0
declare -A used=()

# skip_suite I REASON
skip_suite() {
  state[${ids[$1]}]=skip
  skipped=$((skipped + 1))
  skips+=("${titles[$1]}: $2")
  printf '%s  SKIP  %s: %s\n' "$(date +%T)" "${titles[$1]}" "$2"
}

# ready I: 0 when every suite I needs has passed; 2 (with $why) when one failed or was skipped.
ready() {
  local need
  why=
  for need in ${needs[$1]}; do
    case ${state[$need]:-} in
      pass) ;;
      fail) why="needs \"${titles[${index[$need]}]}\", which failed"; return 2 ;;
      skip) why="needs \"${titles[${index[$need]}]}\", which was skipped"; return 2 ;;
      *) return 1 ;;
    esac
  done
}

start_suite() {
  local i=$1 id=${ids[$1]}
  state[$id]=running
  wall[$id]=$(date +%s)
  [ -z "${uses[$i]}" ] || used[${uses[$i]}]=$id
  [ "${alongside[$i]}" = yes ] || lanes_busy=$((lanes_busy + 1))
  (run_suite "$i") >"$logs/$id.log" 2>&1 </dev/null &
  suite_of[$!]=$i
  printf '%s  ...   %s%s\n' "$(date +%T)" "${titles[$i]}" "$([ "${alongside[$i]}" = yes ] && echo ' (alongside)')"
}

# finish_suite I EXIT: reads the suite's check lines from its log and counts them.
finish_suite() {
  local i=$1 rc=$2 id=${ids[$1]} lines p=0 f=0 s=0 kind text verdict
  wall[$id]=$(($(date +%s) - wall[$id]))
  [ -z "${uses[$i]}" ] || unset "used[${uses[$i]}]"
  [ "${alongside[$i]}" = yes ] || lanes_busy=$((lanes_busy - 1))
  lines=$(tr -d '\r' <"$logs/$id.log" | sed -nE 's/^([A-Za-z0-9_.-]+: )?(PASS|FAIL|SKIP):? (.+)$/\2 \3/p' | awk '!seen[$0]++')
  while read -r kind text; do
    case $kind in
      PASS) p=$((p + 1)) ;;
      FAIL) f=$((f + 1)); failures+=("${titles[$i]}: ${text:0:200}") ;;
      SKIP) s=$((s + 1)); skips+=("${titles[$i]}: ${text:0:200}") ;;
    esac
  done <<<"$lines"
  if [ $f = 0 ] && [ "$rc" != 0 ] && [ "$rc" != 77 ]; then
    f=1; failures+=("${titles[$i]} (exit $rc): $(tail -n 1 "$logs/$id.log" | tr -d '\r' | cut -c1-160)")
  fi
  if [ "$rc" = 77 ] && [ $f = 0 ] && [ $s = 0 ]; then
    s=1; skips+=("${titles[$i]}: $(tail -n 1 "$logs/$id.log" | tr -d '\r' | cut -c1-160)")
  fi
  [ $p != 0 ] || [ $f != 0 ] || [ $s != 0 ] || p=1
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
  counts[$id]="$p passed, $f failed, $s skipped"
  if [ $f != 0 ]; then verdict=FAIL; elif [ "$rc" = 77 ]; then verdict=SKIP; else verdict=PASS; fi
  case $verdict in PASS) state[$id]=pass ;; FAIL) state[$id]=fail ;; SKIP) state[$id]=skip ;; esac
  printf '%s  %-4s  %s: %s, %s\n' "$(date +%T)" "$verdict" "${titles[$i]}" "${counts[$id]}" "$(duration "${wall[$id]}")"
  if [ $verdict = FAIL ]; then
    tr -d '\r' <"$logs/$id.log" | tail -n 12 | sed 's/^/        | /'
    echo "        (whole output: build/test-logs/$id.log)"
  fi
}

echo "== ${#selected[@]} suites in $root; their output in build/test-logs"
while :; do
  # Until a pass starts or skips nothing: a skip can end what waits on it.
  changed=yes
  while [ $changed = yes ]; do
    changed=no
    for i in "${!ids[@]}"; do
      id=${ids[$i]}
      [ -n "${selected[$id]+x}" ] && [ -z "${state[$id]:-}" ] || continue
      ready "$i"
      case $? in
        2) skip_suite "$i" "$why"; changed=yes; continue ;;
        1) continue ;;
      esac
      [ -z "${uses[$i]}" ] || [ -z "${used[${uses[$i]}]:-}" ] || continue
      [ "${alongside[$i]}" = yes ] || [ $lanes_busy -lt 2 ] || continue
      start_suite "$i"
      changed=yes
    done
  done
  [ ${#suite_of[@]} -gt 0 ] || break
  wait -n -p done_pid
  rc=$?
  i=${suite_of[$done_pid]}
  unset "suite_of[$done_pid]"
  finish_suite "$i" "$rc"
done

# --- Summary --------------------------------------------------------------------------------------
elapsed=$(($(date +%s) - run_started))
echo
echo "== Times (wall clock; processor time of the suite's processes)"
cpu_total=0
for i in "${!ids[@]}"; do
  id=${ids[$i]}
  [ -n "${wall[$id]+x}" ] || continue
  cpu=$(cpu_seconds "$logs/$id.times")
  cpu_total=$((cpu_total + ${cpu:-0}))
  printf '  %-64s %10s  %10s\n' "${titles[$i]}" "$(duration "${wall[$id]}")" "$(duration "${cpu:-0}")"
done
printf '  %-64s %10s  %10s\n' "whole run (suites side by side)" "$(duration $elapsed)" "$(duration $cpu_total)"
for f in "${failures[@]}"; do echo "FAILED: $f"; done
for s in "${skips[@]}"; do echo "SKIPPED: $s"; done
echo "Total: $passed passed, $failed failed, $skipped skipped in $(duration $elapsed)"
[ "$failed" = 0 ]
