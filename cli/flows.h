// The information, erase and write flows, and what they share.
#pragma once

#include <string>

#include "device/discovery.h"

int RunInformationFlow();
int RunEraseFlow();
int RunWriteFlow();

// The log lines of a successful erase or write: "CMD=erase;STATE=success;"
// and the identity and ";"; for a write also "FILE=", the file name as given
// with its control bytes, ';' and bytes that are not UTF-8 written as \xNN,
// and ";".
std::string BuildEraseResultRecord(const std::string& deviceIdentity);
std::string BuildWriteResultRecord(const std::string& deviceIdentity,
                                   const std::string& configFileName);

// After a successful erase or write: appends `record` to the log when logging
// is on, then closes the log stream. Returns 0, or 16 after reporting "Error:
// Can not write logfile" when the line could not be written and flushed, or
// the close failed.
int FinishWithResultRecord(const std::string& record);

// Closes each valid handle of the driver's table once (read, then write).
void CloseDeviceHandles(DeviceInterfaceTable& table);
