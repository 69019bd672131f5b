// One output report out, one input report back, on the configuration interface.
#pragma once

#include <array>
#include <cstdint>

#include "device/discovery.h"

namespace ob310 {

inline constexpr std::size_t ReportBufferSize = 65;  // report ID + 64 data bytes
inline constexpr std::uint32_t ReadTimeoutMs = 5000;
inline constexpr int ReadAttempts = 16;
// Longest wait for the device to take one output report.
inline constexpr std::uint32_t WriteTimeoutMs = 5000;

using Report = std::array<std::uint8_t, ReportBufferSize>;

// Discards the input reports already waiting on the configuration interface,
// writes the first N bytes of `request` (N: its output report length, at most
// 65; the write waits at most WriteTimeoutMs) and, when the write delivered
// bytes, reads one reply into `reply`. Returns the reply's byte count, or 0;
// 0 at once, with nothing sent, when none of records 0 to 5 is named
// "ConfigInterface". No handle of `table` is opened or closed.
int ExchangeReport(const DeviceInterfaceTable& table, const Report& request, Report& reply);

}  // namespace ob310
