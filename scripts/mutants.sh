#!/usr/bin/env bash
# Mutation check: does the test suite notice small faults that matter?
#
# Each mutation below names a file, a piece of its code (matched literally; it
# must occur exactly once, so the list stays valid while line numbers move) and
# what that piece becomes. For each, a scratch copy of the sources gets the one
# change, the test build is rebuilt and the tests run; a mutation is caught when
# a test fails (or the build breaks on purpose: none here should).
#
#   scripts/mutants.sh            every mutation
#   scripts/mutants.sh NAME...    only these (by name)
#   scripts/mutants.sh --check    only checks that every pattern matches once
#
# Native mutations rebuild the native test build (its suites, then
# scripts/check-log.sh on its programs); "windows" ones the mingw-w64 build,
# whose tests run under Wine; "wine-vm" ones the mingw-w64 ob310_cli.exe,
# which the Wine boot of linux-vm/run-vm-test.sh then runs against the virtual
# OB310 (minutes each; that boot's own run in the test command is its
# unmutated baseline, so none is made here); "vm" ones run the qemu test's
# power-cut boots (linux-vm/run-vm-test.sh --power-cut) on the mutated tool,
# "linux-vm" ones its checks boot (run-vm-test.sh --checks). "station-sh" and
# "station-bat" ones mutate a station script and run its package check
# (scripts/check-packages.sh station-sh or station-bat) on the mutated copy,
# against the packages the test command unpacked in build/packages.
# Takes minutes: run on demand; the test command runs --check only. Prints
# one line per mutation and "N caught, N survived".
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
scratch=$root/build/mutants
export WINEDEBUG=-all

names=() presets=() files=() olds=() news=()
# mutant NAME PRESET FILE OLD NEW
mutant() { names+=("$1"); presets+=("$2"); files+=("$3"); olds+=("$4"); news+=("$5"); }

# --- command line --------------------------------------------------------------
mutant pin-length native cli/entry.cpp \
  'constexpr std::size_t PinTextLength = 16;' 'constexpr std::size_t PinTextLength = 15;'
mutant name-length native cli/entry.cpp \
  'constexpr std::size_t MinimumNameLength = 2;' 'constexpr std::size_t MinimumNameLength = 1;'
mutant help-wins native cli/entry.cpp \
  'if (settings.helpRequested) {' 'if (settings.helpRequested && !settings.logRequested) {'
mutant info-before-pin native cli/entry.cpp \
  'if (settings.infoRequested && !settings.fileRequested) {' 'if (settings.infoRequested) {'
mutant help-exit native cli/entry.cpp \
  'PrintHelp(context.console);
        return ExitArgumentError;' 'PrintHelp(context.console);
        return ExitSuccess;'

# --- messages and log --------------------------------------------------------------
mutant error-code-digits native output/messages.cpp '"%04x"' '"%04X"'
mutant verbose-always native output/messages.cpp \
  'if (!verboseMode) {' 'if (!verboseMode && false) {'
mutant log-crlf native output/log_file.cpp 'line + "\r\n", lockWaitMs' 'line + "\n", lockWaitMs'
mutant log-separator native output/log_file.cpp \
  'FormatLogTimeStamp(LocalTimeNow()) + ": " + text' 'FormatLogTimeStamp(LocalTimeNow()) + " " + text'
mutant name-escape native cli/flows.cpp 'lead < 0x20 || lead == 0x7F' 'lead < 0x1F || lead == 0x7F'
mutant name-escape-semicolon native cli/flows.cpp "lead == ';' || StartsEscape" 'StartsEscape'
mutant name-escape-backslash native cli/flows.cpp 'return name.compare(at, 2, "\\x") == 0 &&' 'return false &&'
mutant name-escape-c1 native cli/flows.cpp 'lead == 0xC2 && length == 2' 'lead == 0xC3 && length == 2'
mutant name-escape-invalid native cli/flows.cpp 'const bool escaped = length == 0 || c1Control' 'const bool escaped = c1Control'
mutant sigpipe-kills native cli/standard_output.cpp 'std::signal(SIGPIPE, SIG_IGN);' ';'
mutant sigxfsz-kills native cli/standard_output.cpp 'std::signal(SIGXFSZ, SIG_IGN);' ';'
mutant descriptors-left-closed native cli/standard_output.cpp 'open("/dev/null", O_RDWR);' ';'
mutant log-open-blocks native output/disk_interface_posix.cpp 'O_WRONLY | O_NONBLOCK : O_RDWR' 'O_WRONLY : O_RDWR'
mutant log-open-nonblocking native output/disk_interface_posix.cpp 'O_WRONLY | O_NONBLOCK : O_RDWR' 'O_WRONLY | O_NONBLOCK : O_RDWR | O_NONBLOCK'
mutant log-write-nonblocking native output/disk_interface_posix.cpp 'fcntl(fd, F_SETFL, flags & O_APPEND);' ';'
mutant log-device-taken native output/disk_interface_posix.cpp \
  ' == 0 && info.st_rdev == null.st_rdev;' ' == 0;'
mutant config-open-blocks native output/disk_interface_posix.cpp '(fifo ? O_NONBLOCK : 0)' '0'
mutant config-read-nonblocking native output/disk_interface_posix.cpp 'fcntl(fd, F_SETFL, 0);' ';'
mutant log-fragment-kept native output/log_file.cpp 'if (!whole) {' 'if (false) {'
mutant log-cut-without-read-back native output/log_file.cpp \
  'disk.ReadAt(file, start, there.data(), there.size()) == there.size() && there == bytes' \
  '!bytes.empty() || disk.ReadAt(file, start, there.data(), there.size()) == there.size()'
mutant log-fragment-unended native output/log_file.cpp 'disk.Write(file, "\r\n", 2);' ';'
mutant log-glued-to-last-line native output/log_file.cpp 'line.insert(0, "\r\n");' ';'
mutant log-folder-not-flushed native output/log_file.cpp '(!created_ || disk->FlushFolderOf(fileName))' 'true'
mutant log-lock-unbounded native output/log_file.cpp \
  'std::chrono::milliseconds(waitMs);' 'std::chrono::milliseconds(waitMs) * 1000;'
mutant log-sim-files-taken native cli/flows.cpp \
  'std::any_of(context.ownFiles.begin(), context.ownFiles.end(), isLog) ||' 'false ||'
mutant log-lock-probe-skipped native cli/flows.cpp ' ||
         !context.logFile.LockCanBeHad()' ''
mutant log-is-config-file native cli/flows.cpp '(settings.fileRequested && isLog(settings.configFileName)) ||' ''
mutant log-close-unchecked native cli/flows.cpp 'const bool closed = context.logFile.Close();' 'const bool closed = (context.logFile.Close(), true);'
# The flush dropped: only a power cut shows it (the machine of the qemu test,
# killed right after the run's exit 0; see linux-vm/run-vm-test.sh).
mutant log-no-flush vm output/log_file.cpp 'return whole && disk.Flush(file);' 'return whole && (true || disk.Flush(file));'
mutant timestamp-format native output/log_file.cpp '"%d.%m.%Y %H:%M:%S"' '"%m.%d.%Y %H:%M:%S"'

# --- flows ----------------------------------------------------------------------------
mutant erase-record native cli/flows.cpp \
  'return "CMD=erase;STATE=success;" + deviceIdentity + ";";' 'return "CMD=erase;STATE=success;" + deviceIdentity;'
mutant close-read-handle native device/discovery.cpp \
  'for (HidHandle* handle : {&record.readHandle, &record.writeHandle}) {' 'for (HidHandle* handle : {&record.writeHandle}) {'
mutant erase-full-reply native cli/flows.cpp \
  'if (EraseDevice(table, context.workingPin, status) != static_cast<int>(ReportBufferSize)) {' \
  'if (EraseDevice(table, context.workingPin, status) < 1) {'
mutant factory-pin-after-erase native cli/write_flow.cpp \
  'workingPin = FactoryDefaultPin;' ';'
mutant lock-only-when-one native cli/write_flow.cpp \
  'if (image.lockFlag == 1) {' 'if (image.lockFlag != 0) {'
mutant debounce-version native cli/write_flow.cpp \
  'if (ReadDeviceVersion(table) >= FirstVersionWithDebounce) {' 'if (ReadDeviceVersion(table) > FirstVersionWithDebounce) {'
mutant status-examined native cli/write_flow.cpp \
  'bool Accepted(int result, std::uint8_t status) { return result >= 1 && status == 0; }' \
  'bool Accepted(int result, std::uint8_t) { return result >= 1; }'
mutant mouse-data-order native cli/write_flow.cpp \
  'std::copy(image.ledData.begin(), image.ledData.end(), next);' 'std::copy(image.mouseData.begin(), image.mouseData.end(), next);'

# --- configuration reader and hex --------------------------------------------------------
mutant hex-upper-case native config/hex.cpp "if (c >= 'A' && c <= 'F') {" "if (c >= 'A' && c <= 'E') {"
mutant input-bound native config/config_file.cpp \
  'constexpr std::size_t MaxInputBytes = 16 * 1024 * 1024;' 'constexpr std::size_t MaxInputBytes = 16 * 1024 * 1024 + 1;'
mutant too-many-pairs-shown native config/config_file.cpp 'console.WriteLine("error StringToBytes");' '(void)console;'
mutant reader-data-lines native config/config_file.cpp \
  'constexpr std::size_t MinimumDataLines = 255;' 'constexpr std::size_t MinimumDataLines = 254;'
mutant byte-order-mark-kept native config/config_file.cpp '    input.SkipByteOrderMark();' ''
mutant byte-order-mark-anywhere native config/config_file.cpp \
  '    input.SkipByteOrderMark();
    std::string piece;
    while (lines.size() <= DataLineCapacity && input.Next(piece)) {' \
  '    input.SkipByteOrderMark();
    std::string piece;
    while (lines.size() <= DataLineCapacity && input.Next(piece)) {
        input.SkipByteOrderMark();'

# --- discovery -------------------------------------------------------------------------
mutant probe-closed native device/discovery.cpp \
  'hid.Close(probe);' ';'
mutant query-only-fallback native device/discovery.cpp \
  'access = HidAccess::QueryOnly;' 'access = HidAccess::ReadWrite;'
mutant six-per-device native device/discovery.h \
  'inline constexpr int InterfacesPerDevice = 6;' 'inline constexpr int InterfacesPerDevice = 5;'
mutant table-owns-handles native device/discovery.h \
  '~DeviceInterfaceTable() { CloseHandles(); }' '~DeviceInterfaceTable() {}'
mutant table-room native device/discovery.cpp \
  'if (matched < MaxDeviceInterfaces) {' 'if (matched <= MaxDeviceInterfaces) {'
mutant denied-not-asked native device/discovery.cpp \
  'access == HidAccess::QueryOnly && hid.ReportsDenied(path);' 'access == HidAccess::QueryOnly;'
mutant denied-no-hint native cli/flows.cpp \
  'devices >= 1 && table.records[config].reportsDenied;' 'devices >= 1 && table.records[config].reportsDenied && false;'

# --- exchange ---------------------------------------------------------------------------
mutant read-attempts native device/exchange.h \
  'inline constexpr int ReadAttempts = 16;' 'inline constexpr int ReadAttempts = 15;'
mutant read-timeout native device/exchange.h \
  'inline constexpr std::uint32_t ReadTimeoutMs = 5000;' 'inline constexpr std::uint32_t ReadTimeoutMs = 500;'
mutant write-timeout native device/exchange.h \
  'inline constexpr std::uint32_t WriteTimeoutMs = 5000;' 'inline constexpr std::uint32_t WriteTimeoutMs = 50000;'
mutant cancel-dropped native device/exchange.cpp 'reader.Cancel();' ';'
mutant flush-dropped native device/exchange.cpp 'hid.FlushInput(record.readHandle);' ';'
mutant config-interface-only native device/exchange.cpp \
  'if (record.productString != ConfigInterfaceName) {' 'if (false) {'
mutant short-write-fails native device/exchange.cpp \
  'request.data(), length, WriteTimeoutMs) == 0) {' 'request.data(), length, WriteTimeoutMs) < length) {'

# --- requests ---------------------------------------------------------------------------
mutant led-fill native protocol/requests.cpp \
  'constexpr std::uint8_t LedFill = 0xFF;' 'constexpr std::uint8_t LedFill = 0xFE;'
mutant status-offset native protocol/requests.cpp 'status = reply[StatusByteOffset];' 'status = reply[StatusByteOffset + 1];'

# --- simulator ------------------------------------------------------------------------------
mutant sim-no-device-lock native simulator/sim_file_io.cpp 'if (result == LockResult::Taken) {' 'if (true) {'
mutant sim-lock-wait-bound native simulator/sim_file_io.cpp \
  'if (!busy || waited >= waitMs) {' 'if (!busy || waited > waitMs) {'
mutant sim-fault-every-run native simulator/sim_persistent.cpp \
  'if (fault.FiresInRun(device.runs)) {' 'if (true) {'
mutant sim-runs-not-counted native simulator/sim_persistent.cpp \
  'device_.runs = std::min(device_.runs + 1, SimMaxRuns);' 'device_.runs = std::min(device_.runs, SimMaxRuns);'
mutant sim-refused-unmarked native simulator/sim_state_file.cpp \
  '(status != 0 ? "refused, status " : "status ")' '(std::string("status "))'
mutant sim-log-unmarked native programs/ob310_cli_sim.cpp \
  'context.recordFields = ob310::SimLogRecordField;' 'context.recordFields = "";'
mutant record-fields-dropped native cli/flows.cpp 'record + context.recordFields);' 'record);'
mutant sim-lines-on-stdout native cli/standard_output.cpp \
  'std::fwrite(text.data(), 1, text.size(), stderr);' 'std::fwrite(text.data(), 1, text.size(), stdout);'
mutant sim-folder-ignored native programs/ob310_cli_sim.cpp \
  'return folder != nullptr ? folder : "";' 'return folder != nullptr ? "" : "";'

# --- Linux backend ------------------------------------------------------------------------
mutant linux-nonblock native platform/hid_linux.cpp \
  'O_RDWR | O_CLOEXEC | O_NONBLOCK' 'O_RDWR | O_CLOEXEC'
mutant linux-cloexec native platform/hid_linux.cpp \
  'O_RDWR | O_CLOEXEC | O_NONBLOCK' 'O_RDWR | O_NONBLOCK'
mutant linux-vendor-product native platform/hid_linux.cpp \
  'attributes.vendorId = static_cast<std::uint16_t>(vendor);' 'attributes.vendorId = static_cast<std::uint16_t>(product);'
mutant linux-hangup-waits native platform/hid_linux.cpp \
  'if ((entry.revents & POLLIN) == 0) {
            return fail();' 'if ((entry.revents & POLLIN) == 0) {
            continue;'
mutant linux-read-error-waits native platform/hid_linux.cpp \
  'if (n <= 0) {
            return fail();' 'if (n <= 0) {
            continue;'
mutant linux-report-id-filter native platform/hid_linux.cpp \
  'if (acceptedIds_ != nullptr &&' 'if (false &&'
mutant linux-poll-whole-timeout native platform/hid_linux.cpp \
  'static_cast<int>(std::max<std::int64_t>(left.count(), 0))' 'timeout'
# A reply that came twice: only the qemu test's device sends one to the hidraw backend.
mutant linux-flush-empty linux-vm platform/hid_linux.cpp \
  'const int fd = nodes_[entry->node].fd;
        if (fd < 0) {' 'const int fd = nodes_[entry->node].fd;
        if (fd >= 0) {'
# A user without the rights to the nodes: only the qemu test runs the tool as one.
mutant linux-denied-unseen linux-vm platform/hid_linux.cpp \
  'info.denied = !info.readWrite && (errno == EACCES || errno == EPERM);' 'info.denied = false;'

# --- simulator ------------------------------------------------------------------------------
mutant sim-journal-first-entry native simulator/sim_state_file.cpp \
  'text.rfind(SimJournalEntryEnd)' 'text.find(SimJournalEntryEnd)'

# --- Windows backend (tests under Wine) ------------------------------------------------------
# (The barriers after a parked read are not here: a pipe serves a read before
# ReadFile returns, so no test sees them dropped; under Wine they are what
# make a stale report show before the request goes out.)
mutant windows-flush-empty windows platform/hid_windows.cpp \
  'while (!state.parked.empty()) {' 'return;
        while (!state.parked.empty()) {'
mutant windows-drain-one-report windows platform/hid_windows.cpp \
  'state.parked.empty() && read < MaxQueuedReports; ++read) {' 'state.parked.empty() && read < 1; ++read) {'
mutant windows-drain-parks-finished-read windows platform/hid_windows.cpp \
  'if (!state.StillPending(state.slots[static_cast<std::size_t>(state.parked.front())])) {' \
  'if (false) {'
mutant windows-parked-stale-kept windows platform/hid_windows.cpp \
  'if (state.StillPending(state.slots[static_cast<std::size_t>(state.parked.front())])) {
                break;' 'if (true) {
                break;'
mutant windows-parked-reply-dropped windows platform/hid_windows.cpp \
  'std::copy_n(Slot().buffer.begin(), bytes, target_);' ';'
mutant windows-state-kept-after-close windows platform/hid_windows.cpp \
  'states_.erase(ToWin(handle));' ';'
mutant windows-read-not-cancelled windows platform/hid_windows.cpp \
  'CancelIo(state_.handle);
        state_.parked.clear();' 'state_.parked.clear();'
mutant windows-read-not-retired windows platform/hid_windows.cpp \
  'if (started_ && Slot().inFlight) {' 'if (false) {'
mutant windows-read-length windows platform/hid_windows.cpp \
  'ReadFile(handle, slot.buffer.data(), length, nullptr, &slot.overlapped)' \
  'ReadFile(handle, slot.buffer.data(), length - 1, nullptr, &slot.overlapped)'
mutant windows-write-not-cancelled windows platform/hid_windows.cpp \
  'if (WaitForSingleObject(state.writeEvent, timeoutMs) != WAIT_OBJECT_0) {
                CancelIo(file);
            }' \
  'WaitForSingleObject(state.writeEvent, timeoutMs);'
mutant windows-write-unbounded windows platform/hid_windows.cpp \
  'if (WaitForSingleObject(state.writeEvent, timeoutMs) != WAIT_OBJECT_0) {' \
  'if (WaitForSingleObject(state.writeEvent, timeoutMs | INFINITE) != WAIT_OBJECT_0) {'
# Only a device tells the report lengths: caught (or not) by the Wine boot.
mutant windows-output-length wine-vm platform/hid_windows.cpp \
  'caps.outputReportByteLength = block.OutputReportByteLength;' \
  'caps.outputReportByteLength = block.FeatureReportByteLength;'
mutant windows-log-append-only windows output/disk_interface_windows.cpp \
  'FILE_APPEND_DATA | FILE_READ_DATA' 'FILE_WRITE_DATA | FILE_READ_DATA'
mutant windows-log-shared-for-deleting windows output/disk_interface_windows.cpp \
  'share = FILE_SHARE_READ | FILE_SHARE_WRITE;' 'share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;'
mutant windows-log-fragment-kept windows output/log_file.cpp 'if (!whole) {' 'if (false) {'
mutant windows-log-cut-without-read-back windows output/log_file.cpp \
  'disk.ReadAt(file, start, there.data(), there.size()) == there.size() && there == bytes' \
  '!bytes.empty() || disk.ReadAt(file, start, there.data(), there.size()) == there.size()'
mutant windows-log-lock-unbounded windows output/log_file.cpp \
  'std::chrono::milliseconds(waitMs);' 'std::chrono::milliseconds(waitMs) * 1000;'

# --- station scripts, production mode -----------------------------------------------------
mutant station-sh-ctrl-c-kills station-sh examples/program-station.sh \
  "out=\$(trap '' INT; exec \"\$cli\" \"\$@\")" 'out=$(exec "$cli" "$@")'
mutant station-sh-no-check station-sh examples/program-station.sh \
  'if [ -n "$mismatch" ]; then' 'if false; then'
mutant station-sh-erase-count station-sh examples/program-station.sh \
  '[ "$i_erases" = "$expect_erases" ] ||' 'true ||'
mutant station-sh-lock-line station-sh examples/program-station.sh \
  "01 | 1[!0-9A-Fa-f]" "00 | 1[!0-9A-Fa-f]"
mutant station-sh-real-record station-sh examples/program-station.sh \
  "grep -qF 'DEVICE=simulated;' <<<\"\$records\"" 'true'
mutant station-sh-rerun-ignored station-sh examples/program-station.sh \
  '[[ $rerun != *" $serial "* || $written == *" $serial "* ]]' 'true'
mutant station-sh-same-board station-sh examples/program-station.sh \
  'if [ "$mode" = removal ] && {' 'if false && {'
mutant station-sh-two-repeated station-sh examples/program-station.sh \
  '[ "$two_shown" = 1 ] || say' 'say'
mutant station-sh-stop-ignored station-sh examples/program-station.sh \
  'if [ -z "$stop_by" ] && [ -e "$stop_file" ]; then' 'if false; then'
mutant station-sh-byte-order-mark station-sh examples/program-station.sh \
  "line=\${line#\$'\\xEF\\xBB\\xBF'}" ':'
mutant station-sh-log-fifo station-sh examples/program-station.sh \
  'if [ ! -f "$log" ]; then' 'if false; then'
mutant station-sh-lookup-interrupted station-sh examples/program-station.sh "written_before() (
    trap '' INT" 'written_before() ('
mutant station-sh-dash-name station-sh examples/program-station.sh \
  '[[ $log != -* ]] || tool_log=./$log' ':'
mutant station-bat-dash-name station-bat examples/program-station.bat \
  'for /f "eol=- delims=" %%T in ("%~3|ob310.log") do set "DOT_LOG="' 'set "DOT_LOG="'
mutant station-bat-no-check station-bat examples/program-station.bat \
  'if not defined MISMATCH (' 'if 1==1 ('
mutant station-bat-lock-line station-bat examples/program-station.bat \
  'if "%DATA6%"=="01" set' 'if "%DATA6%"=="10" set'
mutant station-bat-real-record station-bat examples/program-station.bat \
  'if defined SIM if %N_SIM% GTR 0 set SEEN=1' 'if defined SIM if %N_ALL% GTR 0 set SEEN=1'
mutant station-bat-rerun-ignored station-bat examples/program-station.bat \
  'for %%S in (%RERUN%) do' 'for %%S in () do'
mutant station-bat-serial-case station-bat examples/program-station.bat \
  'set "I_SERIAL=%I_SERIAL:b=B%"' 'rem'
mutant station-bat-same-board station-bat examples/program-station.bat \
  'if "%MODE%"=="removal" if "%I_SERIAL%"=="%SERIAL%" (' 'if "%MODE%"=="never" if "%I_SERIAL%"=="%SERIAL%" ('

# ------------------------------------------------------------------------------------------

check_only=0
if [ "${1:-}" = --check ]; then check_only=1; shift; fi
selected=("$@")
wanted() {
  [ ${#selected[@]} -eq 0 ] && return 0
  local s; for s in "${selected[@]}"; do [ "$s" = "$1" ] && return 0; done; return 1
}

# A fresh copy of the tracked sources (with any uncommitted edits).
rm -rf "$scratch/src"
mkdir -p "$scratch/src"
git ls-files -z | (cd "$root" && xargs -0 cp --parents -t "$scratch/src")

declare -A ready=()
# Configures and builds a preset's scratch build once, and checks that its
# suites pass before anything is mutated.
prepare() {
  local preset=$1 dir=$scratch/$1
  [ -n "${ready[$preset]+x}" ] && return 0
  if [ "$preset" = station-sh ] || [ "$preset" = station-bat ]; then
    local failing
    failing=$(first_failure "$preset")
    [ -z "$failing" ] || { echo "the unmutated $preset check fails ($failing)"; exit 1; }
    ready[$preset]=1
    return 0
  fi
  if [ "$preset" = wine-vm ]; then
    # The device side is not mutated: the source tree's static build.
    (cmake --preset linux-static && cmake --build --preset linux-static) >"$scratch/build.log" 2>&1 ||
      { tail -n 30 "$scratch/build.log"; echo "build of linux-static failed"; exit 1; }
    dir=$scratch/windows
  fi
  if [ "$preset" = vm ] || [ "$preset" = linux-vm ]; then
    # The qemu test builds the scratch copy's linux-static preset itself; the
    # kernel package comes from the main tree's cache when it has one.
    mkdir -p "$scratch/linux-vm"
    [ -d "$root/build/linux-vm/cache" ] && [ ! -d "$scratch/linux-vm/cache" ] &&
      cp -r "$root/build/linux-vm/cache" "$scratch/linux-vm/"
    build vm || { tail -n 30 "$scratch/build.log"; echo "build of vm failed"; exit 1; }
    local failing
    failing=$(first_failure "$preset")
    [ -z "$failing" ] || { echo "the unmutated qemu test fails ($failing)"; exit 1; }
    ready[$preset]=1
    return 0
  fi
  local toolchain=()
  [ "$preset" = windows ] || [ "$preset" = wine-vm ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$scratch/src/cmake/mingw-w64-x86_64.cmake")
  cmake -S "$scratch/src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOB310_BUILD_BENCHMARKS=OFF \
    "${toolchain[@]}" >/dev/null || { echo "configure of $preset failed"; exit 1; }
  build "$preset" || { tail -n 30 "$scratch/build.log"; echo "build of $preset failed"; exit 1; }
  [ "$preset" = wine-vm ] && { ready[$preset]=1; return 0; }
  local failing
  failing=$(first_failure "$preset")
  [ -z "$failing" ] || { echo "the unmutated $preset suites fail ($failing)"; exit 1; }
  ready[$preset]=1
}

# Builds a preset's unit tests, or with a second argument "e2e" the end-to-end
# suite and the programs it runs.
build() {
  [ "$1" = station-sh ] || [ "$1" = station-bat ] && return 0  # scripts: nothing to build
  [ "$1" = wine-vm ] && { cmake --build "$scratch/windows" -j2 --target ob310_cli >"$scratch/build.log" 2>&1; return; }
  if [ "$1" = vm ] || [ "$1" = linux-vm ]; then  # the static tool the qemu test boots
    (cd "$scratch/src" && cmake --preset linux-static && cmake --build --preset linux-static) >"$scratch/build.log" 2>&1
    return
  fi
  local targets=(ob310_tests)
  [ "${2:-}" = e2e ] && targets=(ob310_e2e_tests)
  cmake --build "$scratch/$1" -j2 --target "${targets[@]}" >"$scratch/build.log" 2>&1
}

# Runs the suites of a build; prints the first failing test's name, or nothing.
first_failure() {
  if [ "$1" = station-sh ] || [ "$1" = station-bat ]; then
    OB310_STATION_SH=$scratch/src/examples/program-station.sh OB310_STATION_BAT=$scratch/src/examples/program-station.bat \
      "$root/scripts/check-packages.sh" "$1" >"$scratch/$1.log" 2>&1 && return
    grep -m1 '^FAIL' "$scratch/$1.log" | sed 's/^FAIL: //' | cut -c1-70
    grep -q '^FAIL' "$scratch/$1.log" || echo "check-packages.sh $1 (failed)"
    return
  fi
  if [ "$1" = wine-vm ]; then
    local log=$scratch/wine-vm.log rc
    "$root/linux-vm/run-vm-test.sh" --wine --exe "$scratch/windows/ob310_cli.exe" \
      --gadget "$root/build/linux-static/linux-vm/ob310_gadget" \
      --probe "$root/build/linux-static/linux-vm/ob310_usb_probe" --work "$root/build/linux-vm" >"$log" 2>&1
    rc=$?
    [ $rc = 0 ] && return
    [ $rc = 77 ] && return  # skipped: counts as survived
    grep -m1 '^wine-vm-test: FAIL' "$log" | sed 's/\r$//; s/^wine-vm-test: FAIL /the Wine boot: /' | cut -c1-70
    grep -q '^wine-vm-test: FAIL' "$log" || echo "the Wine boot (exit $rc)"
    return
  fi
  if [ "$1" = vm ]; then
    "$scratch/src/linux-vm/run-vm-test.sh" --power-cut --work "$scratch/linux-vm" >"$scratch/vm.log" 2>&1 ||
      echo "run-vm-test.sh --power-cut (exit $?)"
    return
  fi
  if [ "$1" = linux-vm ]; then
    "$scratch/src/linux-vm/run-vm-test.sh" --checks --work "$scratch/linux-vm" >"$scratch/vm.log" 2>&1 && return
    grep -m1 '^vm-test: FAIL' "$scratch/vm.log" | sed 's/^vm-test: FAIL /the qemu test: /' | cut -c1-70
    grep -q '^vm-test: FAIL' "$scratch/vm.log" || echo "run-vm-test.sh --checks (failed)"
    return
  fi
  local dir=$scratch/$1 exe=ob310_tests e2e=ob310_e2e_tests run=()
  if [ "$1" = windows ]; then exe=$exe.exe e2e=$e2e.exe run=(wine); fi
  local out t rc name
  # The unit tests first; the end-to-end suite (and its programs) is built
  # only when they did not notice the mutation.
  for t in "$dir/tests/$exe" "$dir/tests/e2e/$e2e"; do
    if [ "$t" = "$dir/tests/e2e/$e2e" ] && ! build "$1" e2e; then
      echo "the build of the end-to-end suite"
      return
    fi
    out=$(cd "$dir" && OB310_SOURCE_DIR="$scratch/src" timeout 300 "${run[@]}" "$t" --gtest_brief=1 2>&1)
    rc=$?
    if [ $rc -ne 0 ]; then
      name=$(grep -m1 -oE '\[  FAILED  \] [A-Za-z0-9_/.]+' <<<"$out" | sed 's/\[  FAILED  \] //')
      [ $rc = 124 ] && name="$(basename "$t") (hung)"
      echo "${name:-$(basename "$t") (exit $rc)}"
      return
    fi
  done
  # The log file against the real system (flush and close errors, a full disk,
  # a file size limit): real processes of the native build.
  if [ "$1" = native ] && ! (cd "$scratch/src" && scripts/check-log.sh --native "$dir") >"$scratch/check-log.log" 2>&1; then
    grep -m1 'FAIL' "$scratch/check-log.log" | sed 's/^check-log: FAIL /check-log.sh: /'
  fi
}

caught=0 survived=0 broken=0
for i in "${!names[@]}"; do
  name=${names[$i]} preset=${presets[$i]} file=${files[$i]}
  wanted "$name" || continue
  target=$scratch/src/$file
  cp "$root/$file" "$target"
  # Literal replacement of the one occurrence; perl is part of every Debian.
  count=$(OLD=${olds[$i]} perl -0777 -ne 'print scalar(() = /\Q$ENV{OLD}\E/g)' "$target")
  if [ "$count" != 1 ]; then
    printf '%-26s PATTERN NOT FOUND ONCE (%s times) in %s\n' "$name" "$count" "$file"
    broken=$((broken + 1)); continue
  fi
  [ "$check_only" = 1 ] && continue
  prepare "$preset"
  OLD=${olds[$i]} NEW=${news[$i]} perl -0777 -pi -e 's/\Q$ENV{OLD}\E/$ENV{NEW}/' "$target"
  if ! build "$preset"; then
    # A mutation must compile to say anything about the tests.
    printf '%-26s DOES NOT BUILD\n' "$name"
    broken=$((broken + 1))
  else
    by=$(first_failure "$preset")
    if [ -n "$by" ]; then
      printf '%-26s caught     by %s\n' "$name" "$by"
      caught=$((caught + 1))
    else
      printf '%-26s SURVIVED\n' "$name"
      survived=$((survived + 1))
    fi
  fi
  cp "$root/$file" "$target"
done
[ $broken -eq 0 ] || echo "$broken mutations no longer match the code or do not build"
[ "$check_only" = 1 ] && { echo "${#names[@]} mutations, $broken broken"; [ $broken -eq 0 ]; exit; }
echo "$caught caught, $survived survived"
[ $survived -eq 0 ] && [ $broken -eq 0 ]
