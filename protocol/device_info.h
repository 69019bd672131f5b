// The information query, its printout and the device identity text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/requests.h"

namespace ob310 {

using DeviceInfoLines = std::array<std::string, 5>;

// Sends the information query; the five lines of the printout, or nothing
// when the device did not answer.
std::optional<DeviceInfoLines> GetDeviceInfo(const DeviceInterfaceTable& table);

// "SN=XXXXXXXX;REV=XXXX", or empty when the device did not answer.
std::string GetDeviceIdentity(const DeviceInterfaceTable& table);

// The five printout lines for an information reply and a version number.
DeviceInfoLines FormatDeviceInfo(const ReplyReport& reply, std::uint16_t versionNumber);

// "SN=" with reply bytes 28..25 and ";REV=" with the version number, all in
// upper-case hex digits.
std::string FormatDeviceIdentity(const ReplyReport& reply, std::uint16_t versionNumber);

// The device's version number from the HID attributes of record 0's read
// handle; 0 when they cannot be read.
std::uint16_t ReadDeviceVersion(const DeviceInterfaceTable& table);

}  // namespace ob310
