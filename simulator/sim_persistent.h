// ob310_cli_sim: the whole tool over a simulated OB310 that lives in a
// folder (see sim_state_file.h for its files).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "simulator/sim_file_io.h"
#include "simulator/sim_hid_layer.h"
#include "simulator/sim_state_file.h"

// Builds the simulated HID stack a device file describes: `deviceCount`
// OB310s (the second and third with serial numbers one and two above the
// first), the first holding the file's state and faults.
void SetUpSimHidLayer(const SimDeviceFile& device, SimHidLayer& layer);

// The fault rule of the HID layer that one fault line stands for.
SimFaultRule ToFaultRule(const SimFault& fault);

// How the simulator of one process runs.
struct SimRunOptions {
    std::string folder;  // where the device's files are; empty: the working folder
    // Takes each of the simulator's own lines (without a line end); the
    // program writes them to standard error, apart from the tool's output.
    std::function<void(const std::string& line)> say;
    // The clock of the wait for a device that another run holds.
    std::function<void(std::uint32_t ms)> sleep = SimSleepMs;
};

// The field the simulator's program adds to each log record, so that no
// simulated success is ever taken for a real one.
inline constexpr const char* SimLogRecordField = "DEVICE=simulated;";

// A run waits at most this long for another run of the same device to end.
inline constexpr std::uint32_t SimDeviceWaitMs = 10000;

// Runs the tool with `argv` over the device in `options.folder` and returns
// the process exit status.
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
// `tool` is the tool's entry point, run over the simulated device.
using ToolEntryPoint = int (*)(int argc, const char* const* argv, HidLayer& hid);
int RunPersistentSimulator(int argc, const char* const* argv, ToolEntryPoint tool,
                           const SimRunOptions& options = {});
