// The information, erase and write flows, and what they share.
#pragma once

#include <string>

#include "device/discovery.h"

int RunInformationFlow();
// `recordFields` goes after the fields of the erase's or the write's result
// record (empty, or fields that each end with ";").
int RunEraseFlow(const std::string& recordFields);
int RunWriteFlow(const std::string& recordFields);

// The log lines of a successful erase or write: "CMD=erase;STATE=success;"
// and the identity and ";"; for a write also "FILE=", the file name as given
// with its control bytes written as \xNN, and ";".
std::string BuildEraseResultRecord(const std::string& deviceIdentity);
std::string BuildWriteResultRecord(const std::string& deviceIdentity,
                                   const std::string& configFileName);

// After a successful erase or write: appends `record` to the log when logging
// is on, then closes the log stream. Returns 0, or 16 after reporting "Error:
// Can not write logfile" when the line could not be written.
int FinishWithResultRecord(const std::string& record);

// Closes each valid handle of the driver's table once (read, then write).
void CloseDeviceHandles(DeviceInterfaceTable& table);
