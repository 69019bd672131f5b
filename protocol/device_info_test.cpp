#include "protocol/device_info.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// The worked example: custom data 00 11 .. ff, lock open, erase count 0x012a,
// serial 0x12345678.
ReplyReport ExampleReply() {
    ReplyReport reply{};
    for (std::size_t i = 0; i < 16; ++i) {
        reply[5 + i] = static_cast<std::uint8_t>(0x11 * i);
    }
    reply[21] = 0xFF;
    reply[22] = 0xFF;
    reply[23] = 0x2A;
    reply[24] = 0x01;
    reply[25] = 0x78;
    reply[26] = 0x56;
    reply[27] = 0x34;
    reply[28] = 0x12;
    return reply;
}

struct InfoCase {
    const char* name;
    std::function<void(ReplyReport&)> change;
    std::uint16_t version;
    std::array<std::string, 5> lines;
    std::string identity;
};

void PrintTo(const InfoCase& row, std::ostream* out) { *out << row.name; }

class DeviceInfoFormat : public ::testing::TestWithParam<InfoCase> {};

TEST_P(DeviceInfoFormat, PrintoutAndIdentity) {
    ReplyReport reply = ExampleReply();
    GetParam().change(reply);
    EXPECT_EQ(FormatDeviceInfo(reply, GetParam().version), GetParam().lines);
    EXPECT_EQ(FormatDeviceIdentity(reply, GetParam().version), GetParam().identity);
}

const std::string ExampleData = "Custom Data = 00112233445566778899aabbccddeeff";

const InfoCase InfoCases[] = {
    {"WorkedExample", [](ReplyReport&) {}, 0x1026,
     {ExampleData, "Lock status = open", "Erase count = 298", "Serial = 12345678", "Revision = 1026"},
     "SN=12345678;REV=1026"},
    {"LockFirstByteOnly", [](ReplyReport& r) { r[22] = 0x00; }, 0x1026,
     {ExampleData, "Lock status = locked", "Erase count = 298", "Serial = 12345678", "Revision = 1026"},
     "SN=12345678;REV=1026"},
    {"LockSecondByteOnly", [](ReplyReport& r) { r[21] = 0x00; }, 0x1026,
     {ExampleData, "Lock status = locked", "Erase count = 298", "Serial = 12345678", "Revision = 1026"},
     "SN=12345678;REV=1026"},
    {"EraseCountHighest", [](ReplyReport& r) { r[23] = 0xFF; r[24] = 0xFF; }, 0x1026,
     {ExampleData, "Lock status = open", "Erase count = 65535", "Serial = 12345678", "Revision = 1026"},
     "SN=12345678;REV=1026"},
    {"SerialOrderAndPadding",
     [](ReplyReport& r) { r[25] = 0x05; r[26] = 0x00; r[27] = 0x0A; r[28] = 0x01; }, 0x1026,
     {ExampleData, "Lock status = open", "Erase count = 298", "Serial = 010a0005", "Revision = 1026"},
     "SN=010A0005;REV=1026"},
    {"CustomDataKeepsLeadingZero", [](ReplyReport& r) { r[5] = 0x07; r[20] = 0xA0; }, 0x1026,
     {"Custom Data = 07112233445566778899aabbccddeea0", "Lock status = open", "Erase count = 298",
      "Serial = 12345678", "Revision = 1026"},
     "SN=12345678;REV=1026"},
    {"VersionPadded", [](ReplyReport&) {}, 0x0100,
     {ExampleData, "Lock status = open", "Erase count = 298", "Serial = 12345678", "Revision = 0100"},
     "SN=12345678;REV=0100"},
};

INSTANTIATE_TEST_SUITE_P(DeviceInfo, DeviceInfoFormat, ::testing::ValuesIn(InfoCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
