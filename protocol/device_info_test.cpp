#include "protocol/device_info.h"

#include <gtest/gtest.h>

namespace ob310 {
namespace {

// The worked example: custom data 00 11 .. ff, lock open, erase count 0x012a,
// serial 0x12345678, revision 1026, and rows that change some bytes or the
// version and so one line of the printout and the identity.
TEST(DeviceInfoTest, PrintoutAndIdentity) {
    ReplyReport example{};
    for (std::size_t i = 0; i < 16; ++i)
        example[5 + i] = static_cast<std::uint8_t>(0x11 * i);
    const std::uint8_t tail[] = {0xFF, 0xFF, 0x2A, 0x01, 0x78, 0x56, 0x34, 0x12};
    std::copy(std::begin(tail), std::end(tail), example.begin() + 21);
    const std::array<std::string, 5> printout = {"Custom Data = 00112233445566778899aabbccddeeff",
                                                 "Lock status = open", "Erase count = 298",
                                                 "Serial = 12345678", "Revision = 1026"};
    EXPECT_EQ(FormatDeviceInfo(example, 0x1026), printout);
    const std::string id = "SN=12345678;REV=1026";
    const struct {
        std::vector<std::pair<std::size_t, std::uint8_t>> bytes;
        std::uint16_t version;
        std::string line, identity;  // the line that differs from the example's
    } rows[] = {
        {{{22, 0x00}}, 0x1026, "Lock status = locked", id},
        {{{21, 0x00}}, 0x1026, "Lock status = locked", id},
        {{{23, 0xFF}, {24, 0xFF}}, 0x1026, "Erase count = 65535", id},
        {{{25, 0x05}, {27, 0x0A}, {28, 0x01}}, 0x1026, "Serial = 010a5605", "SN=010A5605;REV=1026"},
        {{{5, 0x07}, {20, 0xA0}}, 0x1026, "Custom Data = 07112233445566778899aabbccddeea0", id},
        {{}, 0x0100, "Revision = 0100", "SN=12345678;REV=0100"},
        {{}, 0xABCD, "Revision = abcd", "SN=12345678;REV=ABCD"},
    };
    for (const auto& row : rows) {
        ReplyReport reply = example;
        for (const auto& [offset, value] : row.bytes)
            reply[offset] = value;
        std::array<std::string, 5> expected = printout;
        for (std::string& line : expected) {
            if (line.substr(0, line.find('=')) == row.line.substr(0, row.line.find('=')))
                line = row.line;
        }
        EXPECT_EQ(FormatDeviceInfo(reply, row.version), expected);
        EXPECT_EQ(FormatDeviceIdentity(reply, row.version), row.identity);
    }
}

}  // namespace
}  // namespace ob310
