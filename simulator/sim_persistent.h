// ob310_cli_sim: the whole tool over a simulated OB310 that lives in the
// working folder (see sim_state_file.h for its files).
#pragma once

#include <string>

#include "simulator/sim_hid_layer.h"
#include "simulator/sim_state_file.h"

// Builds the simulated HID stack a device file describes: `deviceCount`
// OB310s (the second and third with serial numbers one and two above the
// first), the first holding the file's state and faults.
void SetUpSimHidLayer(const SimDeviceFile& device, SimHidLayer& layer);

// The fault rule of the HID layer that one fault line stands for.
SimFaultRule ToFaultRule(const SimFault& fault);

// Loads (or creates) the device file in the working folder, appends a marker
// line for this run to the record, runs the tool with `argv` and saves the
// device after every report it takes. Returns the process exit status. A
// device file that cannot be read, parsed or saved makes the run print one
// plain line naming the problem and return 16; such a broken file is left as
// it is and the tool does not run.
int RunPersistentSimulator(int argc, const char* const* argv);
