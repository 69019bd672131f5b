// The programming requests: their 65-byte report layouts and the exchange.
#pragma once

#include <array>
#include <cstdint>

#include "device/exchange.h"
#include "protocol/pin.h"

namespace ob310 {

using RequestReport = Report;
using ReplyReport = Report;

enum class CommandCode : std::uint8_t {
    Info = 0x00,
    KeyTableRecord = 0x02,
    Erase = 0x03,
    NewPin = 0x04,
    CustomData = 0x05,
    Lock = 0x06,
    Led = 0x08,
    Mouse = 0x0A,
    Debounce = 0x0D,
};

inline constexpr std::size_t KeyTableRecordCount = 248;
inline constexpr std::size_t KeyTableRecordSize = 32;
inline constexpr std::size_t StatusByteOffset = 2;

using KeyTableRecord = std::array<std::uint8_t, KeyTableRecordSize>;
using CustomDataBlock = std::array<std::uint8_t, 16>;
using LedParamBlock = std::array<std::uint8_t, 8>;
using LedDataBlock = std::array<std::uint8_t, 15>;
using MouseDataBlock = std::array<std::uint8_t, 32>;

// The report of each request, byte for byte. Bytes a request does not set are
// 0x00, except in the LED report, where they are 0xFF.
RequestReport BuildInfoRequest();
RequestReport BuildEraseRequest(const Pin& pin);
RequestReport BuildKeyTableRecordRequest(std::uint8_t index, const Pin& pin,
                                         const KeyTableRecord& record);
RequestReport BuildCustomDataRequest(const Pin& pin, const CustomDataBlock& data);
RequestReport BuildLedRequest(const Pin& pin, std::uint8_t ledMode, const LedParamBlock& params,
                              const LedDataBlock& data);
RequestReport BuildMouseRequest(const Pin& pin, const MouseDataBlock& data);
// Carries the factory-default PIN in its PIN field and `newPin` as its data.
RequestReport BuildNewPinRequest(const Pin& newPin);
RequestReport BuildLockRequest(const Pin& pin);
RequestReport BuildDebounceRequest(const Pin& pin, std::uint8_t debounce);

// Each request sends its report through ExchangeReport on the table of the
// discovery, stores reply byte 2 in `status` (0 when no reply came) and returns
// the exchange's result: reply bytes received, or 0.
int EraseDevice(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t& status);
int WriteKeyTableRecord(const DeviceInterfaceTable& table, std::uint8_t index, const Pin& pin,
                        const KeyTableRecord& record, std::uint8_t& status);
int WriteCustomData(const DeviceInterfaceTable& table, const Pin& pin, const CustomDataBlock& data,
                    std::uint8_t& status);
int WriteLedData(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t ledMode,
                 const LedParamBlock& params, const LedDataBlock& data, std::uint8_t& status);
int WriteMouseData(const DeviceInterfaceTable& table, const Pin& pin, const MouseDataBlock& data,
                   std::uint8_t& status);
int WriteNewPin(const DeviceInterfaceTable& table, const Pin& newPin, std::uint8_t& status);
int WriteLock(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t& status);
int WriteDebounce(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t debounce,
                  std::uint8_t& status);

}  // namespace ob310
