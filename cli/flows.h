// The information, erase and write flows, and what they share. Each takes the
// run's context and returns the run's ExitCode.
#pragma once

#include <string>

#include "cli/run_context.h"
#include "device/discovery.h"

namespace ob310 {

// The line that follows "Error: No OB310 found on system" when an OB310 is
// attached that this process may not open.
inline const std::string ReportsDeniedLine =
    "An OB310 is attached, but its hidraw nodes cannot be opened (permission denied): "
    "see \"Access without root\" in the README.";

int RunInformationFlow(RunContext& context);
int RunEraseFlow(RunContext& context);
int RunWriteFlow(RunContext& context);

// Fills `table` and returns the number of devices the run can use. With none,
// it reports "Error: No OB310 found on system" and returns 0. A device whose
// configuration interface this process may not exchange reports with (Linux
// without the udev rule) is none to the run: the report says why.
int DiscoverForRun(RunContext& context, DeviceInterfaceTable& table);

// The log line of a successful write: "CMD=write;STATE=success;", the
// identity, ";FILE=", the file name as given with its control bytes, ';'
// and bytes that are not UTF-8 written as \xNN, and ";".
std::string BuildWriteResultRecord(const std::string& deviceIdentity,
                                   const std::string& configFileName);

// After a successful erase or write: appends `record` and the context's
// recordFields to the log when logging is on, then closes the log stream.
// Returns 0, or 16 after reporting "Error: Can not write logfile" when the
// line could not be written and flushed, or the close failed.
int FinishWithResultRecord(RunContext& context, const std::string& record);

}  // namespace ob310
