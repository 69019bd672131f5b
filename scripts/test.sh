#!/usr/bin/env bash
# Runs every test suite of ob310_cli and ends with one summary line:
#   native build, the same tests under AddressSanitizer + UndefinedBehaviorSanitizer,
#   the Windows build under Wine, a short fuzzing run of the configuration reader,
#   the Linux backend against a real kernel under qemu, the Windows build under Wine in such a
#   machine against the virtual OB310, and what ships: the .deb (lintian, the C library it needs,
#   a Debian 11 root), the Windows zip and MSI (installed under Wine), their man pages, resources
#   and station scripts, and that both packages build again to the same bytes
#   (scripts/check-packages.sh).
# On Debian it installs the packages it needs when they are missing (as root).
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

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
passed=0 failed=0 skipped=0
failures=()

# Runs one ctest preset after configuring and building it; adds its counts.
run_preset() {
  local preset=$1 log
  log=$(mktemp)
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >"$log" 2>&1 || ! cmake --build --preset "$preset" >>"$log" 2>&1; then
    tail -n 40 "$log"
    echo "== $preset: build FAILED"
    failed=$((failed + 1)); failures+=("$preset build")
    rm -f "$log"; return
  fi
  echo "== $preset: test"
  ctest --preset "$preset" 2>&1 | tee "$log" | grep -E '(\*\*\*|tests passed|Not Run)' || true
  local line total nfail nskip
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); failures+=("$preset: no test result"); rm -f "$log"; return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  nfail=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  nskip=$(grep -cE '\*\*\*Skipped|Not Run \(Disabled\)' "$log" || true)
  passed=$((passed + total - nfail - nskip)); failed=$((failed + nfail)); skipped=$((skipped + nskip))
  [ "$nfail" = 0 ] || failures+=("$preset: $nfail failed")
  rm -f "$log"
}

# Runs one script-driven suite: exit 0 passes, 77 skips, anything else fails.
run_script() {
  local name=$1; shift
  echo "== $name"
  "$@"
  local rc=$?
  case $rc in
    0) passed=$((passed + 1)) ;;
    77) skipped=$((skipped + 1)); echo "== $name: skipped" ;;
    *) failed=$((failed + 1)); failures+=("$name (exit $rc)") ;;
  esac
}

# The one code style (.clang-format), before anything is built.
run_script "format (clang-format)" scripts/check-format.sh
run_preset native
run_preset sanitize
run_preset windows
# After the Windows build: its stations share a log with the native ones under Wine.
run_script "log file with real processes (flush, full disk, limits, other writers, Wine)" \
  scripts/check-log.sh build/native build/windows
# What ships, from the packages themselves.
run_script "package: .deb (debhelper, lintian, C library floor)" scripts/check-packages.sh deb
run_script "package: Windows zip and MSI (windows-tools preset)" scripts/check-packages.sh zip
run_script "package: .exe version and manifest resources" scripts/check-packages.sh resources
run_script "package: man pages render" scripts/check-packages.sh man
run_script "package: station script (bash)" scripts/check-packages.sh station-sh
run_script "package: station script (.bat, Wine cmd)" scripts/check-packages.sh station-bat
run_script "package: MSI installed, run from PATH, removed (Wine)" scripts/check-packages.sh msi
run_script "package: .deb in a Debian 11 root" scripts/check-packages.sh bullseye
run_script "package: reproducible (.deb and zip built again in another folder)" scripts/check-packages.sh reproducible
[ -x fuzz/run-short.sh ] && run_script "fuzz (configuration reader)" fuzz/run-short.sh
[ -x linux-vm/run-vm-test.sh ] && run_script "Linux kernel (qemu)" linux-vm/run-vm-test.sh
# The Windows build above, under Wine inside the same kind of machine, against the virtual OB310.
[ -x linux-vm/run-vm-test.sh ] && run_script "Windows build under Wine on a real kernel (qemu)" \
  linux-vm/run-vm-test.sh --wine --exe build/windows/ob310_cli.exe

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "Total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
