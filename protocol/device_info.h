// The information query, its printout and the device identity text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/requests.h"

// Sends the all-zero query and reads the reply into `reply` (zeroed by the
// caller). Returns the exchange's result.
int QueryDeviceInfo(DeviceInterfaceTable table, ReplyReport& reply);

// Prints the five information lines and returns 0, or returns 4 and prints
// nothing when the device did not answer.
int PrintDeviceInfo(DeviceInterfaceTable table);

// "SN=XXXXXXXX;REV=XXXX", or empty when the device did not answer.
std::string GetDeviceIdentity(DeviceInterfaceTable table);

// The five printout lines for an information reply and a version number.
std::array<std::string, 5> FormatDeviceInfo(const ReplyReport& reply, std::uint16_t versionNumber);

// "SN=" with reply bytes 28..25 and ";REV=" with the version number, all in
// upper-case hex digits.
std::string FormatDeviceIdentity(const ReplyReport& reply, std::uint16_t versionNumber);

// The device's version number from the HID attributes of record 0's read
// handle; 0 when they cannot be read.
std::uint16_t ReadDeviceVersion(const DeviceInterfaceTable& table);
