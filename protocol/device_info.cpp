#include "protocol/device_info.h"

#include <cstdio>

namespace ob310 {

namespace {

// Offsets in the information reply.
constexpr std::size_t CustomDataOffset = 5;
constexpr std::size_t CustomDataSize = 16;
constexpr std::size_t LockOffset = 21;
constexpr std::size_t EraseCountOffset = 23;  // little-endian, 2 bytes
constexpr std::size_t SerialOffset = 25;      // little-endian, 4 bytes

// The serial bytes most significant first (reply bytes 28, 27, 26, 25), each
// as two digits in the given printf format.
std::string FormatSerial(const ReplyReport& reply, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, reply[SerialOffset + 3], reply[SerialOffset + 2],
                  reply[SerialOffset + 1], reply[SerialOffset]);
    return text;
}

std::string FormatVersion(std::uint16_t versionNumber, const char* format) {
    char text[8];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(versionNumber));
    return text;
}

// Sends the all-zero query and reads the reply into `reply`. Returns the
// exchange's result.
int QueryDeviceInfo(const DeviceInterfaceTable& table, ReplyReport& reply) {
    return ExchangeReport(table, BuildInfoRequest(), reply);
}

}  // namespace

std::uint16_t ReadDeviceVersion(const DeviceInterfaceTable& table) {
    HidAttributes attributes{};
    if (table.hid == nullptr ||
        !table.hid->ReadAttributes(table.records[0].readHandle, attributes)) {
        return 0;
    }
    return attributes.versionNumber;
}

DeviceInfoLines FormatDeviceInfo(const ReplyReport& reply, std::uint16_t versionNumber) {
    std::string customData = "Custom Data = ";
    for (std::size_t i = 0; i < CustomDataSize; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", reply[CustomDataOffset + i]);
        customData += pair;
    }
    const bool open = reply[LockOffset] == 0xFF && reply[LockOffset + 1] == 0xFF;
    const unsigned eraseCount =
        reply[EraseCountOffset] | static_cast<unsigned>(reply[EraseCountOffset + 1]) << 8;
    return {
        customData,
        open ? "Lock status = open" : "Lock status = locked",
        "Erase count = " + std::to_string(eraseCount),
        "Serial = " + FormatSerial(reply, "%02x%02x%02x%02x"),
        "Revision = " + FormatVersion(versionNumber, "%04x"),
    };
}

std::string FormatDeviceIdentity(const ReplyReport& reply, std::uint16_t versionNumber) {
    return "SN=" + FormatSerial(reply, "%02X%02X%02X%02X") +
           ";REV=" + FormatVersion(versionNumber, "%04X");
}

std::optional<DeviceInfoLines> GetDeviceInfo(const DeviceInterfaceTable& table) {
    ReplyReport reply{};
    if (QueryDeviceInfo(table, reply) <= 0) {
        return std::nullopt;
    }
    return FormatDeviceInfo(reply, ReadDeviceVersion(table));
}

std::string GetDeviceIdentity(const DeviceInterfaceTable& table) {
    ReplyReport reply{};
    if (QueryDeviceInfo(table, reply) <= 0) {
        return {};
    }
    return FormatDeviceIdentity(reply, ReadDeviceVersion(table));
}

}  // namespace ob310
