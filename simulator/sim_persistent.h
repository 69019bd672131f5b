// ob310_cli_sim: the whole tool over a simulated OB310 that lives in a
// folder (see sim_state_file.h for its files).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "output/console.h"
#include "simulator/sim_file_io.h"
#include "simulator/sim_hid_layer.h"
#include "simulator/sim_state_file.h"

namespace ob310 {

// How the simulator of one process runs.
struct SimRunOptions {
    std::string folder;  // where the device's files are; empty: the working folder
    // Takes the simulator's own lines (the program: standard error, apart
    // from the tool's output); null: the tool's console.
    OutputSink* lines = nullptr;
    // The clock of the wait for a device that another run holds.
    std::function<void(std::uint32_t ms)> sleep = SimSleepMs;
};

// The field the simulator's program adds to each log record, so that no
// simulated success is ever taken for a real one.
inline constexpr const char* SimLogRecordField = "DEVICE=simulated;";

// The paths of the files the simulated OB310 in `folder` (empty: the working
// folder) keeps: device file (and the side file it is saved through),
// journal, record and lock.
std::vector<std::string> SimFilePaths(const std::string& folder);

// A run waits at most this long for another run of the same device to end.
inline constexpr std::uint32_t SimDeviceWaitMs = 10000;

// Runs the tool with `argv` over the device in `options.folder` and returns
// its exit code.
//
// The files are first touched when the tool looks for a device, so a run that
// never does (help, argument errors, a configuration file that does not read)
// needs neither a device file nor a writable folder. Then the run takes the
// device's lock (SimLockFileName) and holds it to its end, so runs of one
// device follow one another: when another run holds it for SimDeviceWaitMs,
// or it can not be taken, one line says so and the tool finds no device.
// Then the device file is read (and created with factory values when
// missing), a leftover journal of a run that was killed is applied, the run
// counter goes up by one and is saved with it, and the run's marker line goes
// to the record.
//
// Each report the first device takes goes to the record as one whole line
// (one write, before the device answers) and, when it changed the device, its
// changes go to the journal, before the device answers. A report that can not
// be kept there is not taken: the write delivers 0 bytes, the device state
// stays as before, and one line names the file, so the tool reports its
// step's error. At the end a run that changed the device rewrites the device
// file once and removes the journal.
//
// A device file that can not be used (not a regular file, over 1 MiB, a
// broken line) leaves the device unplugged: one line names the problem, the
// file is left as it is, and the tool finds no device.
//
// `tool` is the tool's entry point (Ob310Main), run over the simulated device
// and `console`.
using ToolEntryPoint = int (*)(int argc, const char* const* argv, HidLayer& hid,
                               OutputSink& console);
int RunPersistentSimulator(int argc, const char* const* argv, ToolEntryPoint tool,
                           OutputSink& console, const SimRunOptions& options = {});

}  // namespace ob310
