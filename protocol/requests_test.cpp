#include "protocol/requests.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>

namespace {

// Builds a report from hex text such as "00 03 00 00 00" and runs written
// "ff*27" (the byte ff, 27 times). Every expected report below is all 65
// bytes, spelled out field by field.
RequestReport Golden(const std::string& text) {
    RequestReport report{};
    std::size_t at = 0;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const auto star = word.find('*');
        const auto value = static_cast<std::uint8_t>(std::strtoul(word.substr(0, 2).c_str(), nullptr, 16));
        const std::size_t count = star == std::string::npos ? 1 : std::stoul(word.substr(star + 1));
        for (std::size_t i = 0; i < count; ++i) {
            report.at(at++) = value;
        }
    }
    EXPECT_EQ(at, ReportBufferSize) << "golden text is not 65 bytes: " << text;
    return report;
}

template <std::size_t N>
std::array<std::uint8_t, N> Run(std::uint8_t first) {
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

const Pin CommandLinePin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const Pin NewPin = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const KeyTableRecord Record = Run<32>(0xA0);

struct GoldenCase {
    const char* name;
    std::function<RequestReport()> build;
    const char* expected;
};

std::string Hex(const RequestReport& report) {
    std::string text;
    char pair[4];
    for (std::uint8_t byte : report) {
        std::snprintf(pair, sizeof pair, "%02x ", byte);
        text += pair;
    }
    return text;
}

void PrintTo(const GoldenCase& row, std::ostream* out) { *out << row.name; }

class RequestGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(RequestGolden, ReportIsByteExact) {
    EXPECT_EQ(Hex(GetParam().build()), Hex(Golden(GetParam().expected)));
}

const GoldenCase GoldenCases[] = {
    {"Info", [] { return BuildInfoRequest(); }, "00*65"},
    {"Erase", [] { return BuildEraseRequest(CommandLinePin); },
     "00 03 00 00 00  11 22 33 44 55 66 77 88  00*52"},
    {"KeyTableRecordFirst", [] { return BuildKeyTableRecordRequest(0, FactoryDefaultPin, Record); },
     "00 02 00 00 00  5a 3c 19 e7 b2 d4 0f 86"
     "  a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af"
     "  b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf  00*20"},
    {"KeyTableRecordLast", [] { return BuildKeyTableRecordRequest(247, CommandLinePin, Record); },
     "00 02 f7 00 00  11 22 33 44 55 66 77 88"
     "  a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af"
     "  b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf  00*20"},
    {"CustomData", [] { return BuildCustomDataRequest(FactoryDefaultPin, Run<16>(0xC0)); },
     "00 05 00 00 00  5a 3c 19 e7 b2 d4 0f 86"
     "  c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 ca cb cc cd ce cf  00*36"},
    // Mode 0 still leaves the fixed 0xFF at 14 and the fill from 38 on.
    {"LedModeZero", [] { return BuildLedRequest(FactoryDefaultPin, 0x00, Run<8>(0x01), Run<15>(0xD0)); },
     "00 08 00 00 00  5a 3c 19 e7 b2 d4 0f 86  00 ff  01 02 03 04 05 06 07 08"
     "  d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 da db dc dd de  ff*27"},
    {"LedZeroData", [] { return BuildLedRequest(CommandLinePin, 0x03, LedParamBlock{}, LedDataBlock{}); },
     "00 08 00 00 00  11 22 33 44 55 66 77 88  03 ff  00*8  00*15  ff*27"},
    {"Mouse", [] { return BuildMouseRequest(FactoryDefaultPin, Run<32>(0x40)); },
     "00 0a 00 00 00  5a 3c 19 e7 b2 d4 0f 86"
     "  40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f"
     "  50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f  00*20"},
    // The PIN field holds the factory-default PIN, never an argument.
    {"NewPin", [] { return BuildNewPinRequest(NewPin); },
     "00 04 00 00 00  5a 3c 19 e7 b2 d4 0f 86  01 23 45 67 89 ab cd ef  00*44"},
    {"Lock", [] { return BuildLockRequest(NewPin); },
     "00 06 00 00 00  01 23 45 67 89 ab cd ef  00*52"},
    {"Debounce", [] { return BuildDebounceRequest(FactoryDefaultPin, 0x37); },
     "00 0d 00 00 00  5a 3c 19 e7 b2 d4 0f 86  37  00*51"},
};

INSTANTIATE_TEST_SUITE_P(Requests, RequestGolden, ::testing::ValuesIn(GoldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
