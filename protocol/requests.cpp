#include "protocol/requests.h"

#include <algorithm>

namespace ob310 {

namespace {

constexpr std::size_t CommandOffset = 1;
constexpr std::size_t RecordIndexOffset = 2;
constexpr std::size_t PinOffset = 5;
constexpr std::size_t DataOffset = 13;

// LED report: mode at 13, a fixed 0xFF at 14, parameters at 15..22, LED data
// at 23..37, 0xFF from 38 to the end.
constexpr std::size_t LedFixedOffset = 14;
constexpr std::size_t LedParamsOffset = 15;
constexpr std::size_t LedDataOffset = 23;
constexpr std::size_t LedFillFrom = 23;
constexpr std::uint8_t LedFill = 0xFF;

// Report ID 0, the command code, the PIN; everything else 0x00.
RequestReport StartReport(CommandCode command, const Pin& pin) {
    RequestReport report{};
    report[CommandOffset] = static_cast<std::uint8_t>(command);
    std::copy(pin.begin(), pin.end(), report.begin() + PinOffset);
    return report;
}

template <std::size_t N>
void PutData(RequestReport& report, std::size_t offset, const std::array<std::uint8_t, N>& data) {
    static_assert(N <= ReportBufferSize - DataOffset);
    std::copy(data.begin(), data.end(), report.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Sends one request on the table and takes the status byte from the
// reply, which stays 0x00 when no reply came.
int SendRequest(const DeviceInterfaceTable& table, const RequestReport& report,
                std::uint8_t& status) {
    ReplyReport reply{};
    const int result = ExchangeReport(table, report, reply);
    status = reply[StatusByteOffset];
    return result;
}

}  // namespace

RequestReport BuildInfoRequest() { return RequestReport{}; }

RequestReport BuildEraseRequest(const Pin& pin) { return StartReport(CommandCode::Erase, pin); }

RequestReport BuildKeyTableRecordRequest(std::uint8_t index, const Pin& pin,
                                         const KeyTableRecord& record) {
    RequestReport report = StartReport(CommandCode::KeyTableRecord, pin);
    report[RecordIndexOffset] = index;
    PutData(report, DataOffset, record);
    return report;
}

RequestReport BuildCustomDataRequest(const Pin& pin, const CustomDataBlock& data) {
    RequestReport report = StartReport(CommandCode::CustomData, pin);
    PutData(report, DataOffset, data);
    return report;
}

RequestReport BuildLedRequest(const Pin& pin, std::uint8_t ledMode, const LedParamBlock& params,
                              const LedDataBlock& data) {
    RequestReport report = StartReport(CommandCode::Led, pin);
    std::fill(report.begin() + LedFillFrom, report.end(), LedFill);
    report[DataOffset] = ledMode;
    report[LedFixedOffset] = LedFill;
    PutData(report, LedParamsOffset, params);
    PutData(report, LedDataOffset, data);
    return report;
}

RequestReport BuildMouseRequest(const Pin& pin, const MouseDataBlock& data) {
    RequestReport report = StartReport(CommandCode::Mouse, pin);
    PutData(report, DataOffset, data);
    return report;
}

RequestReport BuildNewPinRequest(const Pin& newPin) {
    RequestReport report = StartReport(CommandCode::NewPin, FactoryDefaultPin);
    PutData(report, DataOffset, newPin);
    return report;
}

RequestReport BuildLockRequest(const Pin& pin) { return StartReport(CommandCode::Lock, pin); }

RequestReport BuildDebounceRequest(const Pin& pin, std::uint8_t debounce) {
    RequestReport report = StartReport(CommandCode::Debounce, pin);
    report[DataOffset] = debounce;
    return report;
}

int EraseDevice(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t& status) {
    return SendRequest(table, BuildEraseRequest(pin), status);
}

int WriteKeyTableRecord(const DeviceInterfaceTable& table, std::uint8_t index, const Pin& pin,
                        const KeyTableRecord& record, std::uint8_t& status) {
    return SendRequest(table, BuildKeyTableRecordRequest(index, pin, record), status);
}

int WriteCustomData(const DeviceInterfaceTable& table, const Pin& pin, const CustomDataBlock& data,
                    std::uint8_t& status) {
    return SendRequest(table, BuildCustomDataRequest(pin, data), status);
}

int WriteLedData(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t ledMode,
                 const LedParamBlock& params, const LedDataBlock& data, std::uint8_t& status) {
    return SendRequest(table, BuildLedRequest(pin, ledMode, params, data), status);
}

int WriteMouseData(const DeviceInterfaceTable& table, const Pin& pin, const MouseDataBlock& data,
                   std::uint8_t& status) {
    return SendRequest(table, BuildMouseRequest(pin, data), status);
}

int WriteNewPin(const DeviceInterfaceTable& table, const Pin& newPin, std::uint8_t& status) {
    return SendRequest(table, BuildNewPinRequest(newPin), status);
}

int WriteLock(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t& status) {
    return SendRequest(table, BuildLockRequest(pin), status);
}

int WriteDebounce(const DeviceInterfaceTable& table, const Pin& pin, std::uint8_t debounce,
                  std::uint8_t& status) {
    return SendRequest(table, BuildDebounceRequest(pin, debounce), status);
}

}  // namespace ob310
