#include "protocol/requests.h"

#include <gtest/gtest.h>

#include <sstream>

namespace ob310 {
namespace {

// "00 03 ff*27 ...": hex bytes, a run written as byte*count, spaces free.
std::vector<std::uint8_t> Golden(const std::string& golden) {
    std::vector<std::uint8_t> bytes;
    std::istringstream words(golden);
    for (std::string word; words >> word;) {
        const std::size_t star = word.find('*');
        bytes.insert(bytes.end(), star == std::string::npos ? 1 : std::stoul(word.substr(star + 1)),
                     static_cast<std::uint8_t>(std::stoul(word.substr(0, 2), nullptr, 16)));
    }
    return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> Bytes(std::uint8_t first) {
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

// The reports whose fields a whole file's write cannot tell apart (all-zero LED and mouse
// data, a new PIN equal to the PIN field), all 65 bytes spelled out field by field.
TEST(RequestsTest, ReportsAreByteExact) {
    const Pin pin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const Pin newPin = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const std::pair<RequestReport, std::string> cases[] = {
        // Mode 0 still leaves the fixed 0xFF at 14 and the fill from 38 on.
        {BuildLedRequest(pin, 0x00, Bytes<8>(0x01), Bytes<15>(0xD0)),
         "00 08 00 00 00  11 22 33 44 55 66 77 88  00 ff  01 02 03 04 05 06 07 08"
         "  d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 da db dc dd de  ff*27"},
        {BuildLedRequest(pin, 0x03, LedParamBlock{}, LedDataBlock{}),
         "00 08 00 00 00  11 22 33 44 55 66 77 88  03 ff  00*8  00*15  ff*27"},
        {BuildMouseRequest(pin, Bytes<32>(0x40)),
         "00 0a 00 00 00  11 22 33 44 55 66 77 88  40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f"
         "  50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f  00*20"},
        // The PIN field holds the factory-default PIN, never an argument.
        {BuildNewPinRequest(newPin),
         "00 04 00 00 00  5a 3c 19 e7 b2 d4 0f 86  01 23 45 67 89 ab cd ef  00*44"},
    };
    for (const auto& [report, golden] : cases) {
        EXPECT_EQ(std::vector<std::uint8_t>(report.begin(), report.end()), Golden(golden))
            << "command " << int{report[1]};
    }
}

}  // namespace
}  // namespace ob310
