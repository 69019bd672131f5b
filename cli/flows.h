// The information, erase and write flows, and what they share.
#pragma once

#include <string>

#include "device/discovery.h"

int RunInformationFlow();
int RunEraseFlow();
int RunWriteFlow();

// Closes each valid handle of the driver's table once (read, then write).
void CloseDeviceHandles(DeviceInterfaceTable& table);
