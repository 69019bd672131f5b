// ob310_cli_sim: the whole tool over a simulated OB310 that lives in the
// working folder (see sim_state_file.h for its files).
#pragma once

#include <string>

#include "output/console.h"
#include "simulator/sim_hid_layer.h"
#include "simulator/sim_state_file.h"

namespace ob310 {

// Runs the tool with `argv` over the device of the working folder and returns
// its exit code.
//
// The files are first touched when the tool looks for a device, so a run that
// never does (help, argument errors, a configuration file that does not read)
// needs neither a device file nor a writable folder. Then the device file is
// read (and created with factory values when missing), a leftover journal of
// a run that was killed is applied, and the run's marker line goes to the
// record.
//
// Each report the first device takes goes to the record and, when it changed
// the device, its changes go to the journal, before the device answers. A
// report that can not be kept there is not taken: the write delivers 0 bytes,
// the device state stays as before, and one plain line names the file, so
// the tool reports its step's error. At the end a run that changed the device
// rewrites the device file once and removes the journal.
//
// A device file that can not be used (not a regular file, over 1 MiB, a
// broken line) leaves the device unplugged: one plain line names the problem,
// the file is left as it is, and the tool finds no device.
//
// `tool` is the tool's entry point (Ob310Main), run over the simulated device
// and `console`; the simulator's own plain lines go to `console` too.
using ToolEntryPoint = int (*)(int argc, const char* const* argv, HidLayer& hid,
                               OutputSink& console);
int RunPersistentSimulator(int argc, const char* const* argv, ToolEntryPoint tool,
                           OutputSink& console);

}  // namespace ob310
