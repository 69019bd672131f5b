#include "config/hex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/console.h"

namespace {

constexpr std::uint8_t Untouched = 0xEE;
const std::string RefusedLine = "error StringToBytes\n";

struct HexCase {
    const char* name;
    std::string text;
    std::size_t n;
    int result;
    std::vector<std::uint8_t> out;  // the whole buffer afterwards (n bytes, at least one)
    std::string console;
};

const std::vector<std::uint8_t> FactoryPin = {0x5A, 0x3C, 0x19, 0xE7, 0xB2, 0xD4, 0x0F, 0x86};

std::vector<std::uint8_t> Repeat(std::uint8_t value, std::size_t count) {
    return std::vector<std::uint8_t>(count, value);
}

const HexCase HexCases[] = {
    {"LowerCase", "5a3c19e7b2d40f86", 8, 8, FactoryPin, ""},
    {"UpperCase", "5A3C19E7B2D40F86", 8, 8, FactoryPin, ""},
    {"MixedCase", "5a3C19e7B2d40F86", 8, 8, FactoryPin, ""},
    {"OddExtraCharacterNeverRead", "5A3C19E7B2D40F86Z", 8, 8, FactoryPin, ""},
    {"OnePairTooManyRefused", "5A3C19E7B2D40F8600", 8, 0, Repeat(Untouched, 8), RefusedLine},
    {"OverLongRefusedEvenWithBadDigits", "zzzzzzzzzzzzzzzzzz", 8, 0, Repeat(Untouched, 8), RefusedLine},
    {"FifthCharacterNotHex", "5a3cX9e7b2d40f86", 8, 0,
     {0x5A, 0x3C, Untouched, Untouched, Untouched, Untouched, Untouched, Untouched}, ""},
    {"SecondDigitOfPairNotHexLeavesItsByte", "5a3c1-e7b2d40f86", 8, 0,
     {0x5A, 0x3C, Untouched, Untouched, Untouched, Untouched, Untouched, Untouched}, ""},
    {"SingleLastDigitIsLowNibble", "ABC", 2, 2, {0xAB, 0x0C}, ""},
    {"SingleDigitAlone", "a", 1, 1, {0x0A}, ""},
    {"BadSingleLastDigit", "ABG", 2, 0, {0xAB, Untouched}, ""},
    {"DigitsRunOut", "AB", 2, StringToBytesDigitsRanOut, {0xAB, Untouched}, ""},
    {"DigitsRunOutAfterSingleDigit", "ABC", 3, StringToBytesDigitsRanOut, {0xAB, 0x0C, Untouched}, ""},
    {"EmptyTextRunsOut", "", 1, StringToBytesDigitsRanOut, {Untouched}, ""},
    {"BadDigitComesBeforeRunningOut", "G", 4, 0, Repeat(Untouched, 4), ""},
    {"BlankIsNotHex", " 1", 1, 0, {Untouched}, ""},
    {"SignIsNotHex", "+1", 1, 0, {Untouched}, ""},
    {"PrefixIsNotHex", "0x12", 2, 0, {Untouched, Untouched}, ""},
    {"HighByteIsNotHex", "\xC1" "1", 1, 0, {Untouched}, ""},
    {"NulIsNotHex", std::string("1\0", 2), 1, 0, {Untouched}, ""},
    {"KeyTableLine63Digits", std::string(62, 'f') + "1", 32, 32,
     [] { auto v = Repeat(0xFF, 32); v[31] = 0x01; return v; }(), ""},
    {"KeyTableLine65DigitsIgnoresLast", std::string(64, '1') + "Z", 32, 32, Repeat(0x11, 32), ""},
    {"KeyTableLine66DigitsRefused", std::string(66, '1'), 32, 0, Repeat(Untouched, 32), RefusedLine},
    {"KeyTableLine62DigitsRunsOut", std::string(62, '2'), 32, StringToBytesDigitsRanOut,
     [] { auto v = Repeat(0x22, 32); v[31] = Untouched; return v; }(), ""},
};

void PrintTo(const HexCase& c, std::ostream* os) { *os << c.name; }

class StringToBytesTest : public testing::TestWithParam<HexCase> {};

TEST_P(StringToBytesTest, ResultBytesAndMessage) {
    const HexCase& c = GetParam();
    std::vector<std::uint8_t> out(c.out.size(), Untouched);
    // One guard byte past the n wanted: nothing may be written there.
    out.push_back(Untouched);
    ConsoleCapture console;
    EXPECT_EQ(StringToBytes(c.text, out.data(), c.n), c.result);
    EXPECT_EQ(out.back(), Untouched);
    out.pop_back();
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(console.Text(), c.console);
}

INSTANTIATE_TEST_SUITE_P(Cases, StringToBytesTest, testing::ValuesIn(HexCases),
                         [](const testing::TestParamInfo<HexCase>& info) { return info.param.name; });

struct ZeroCountCase {
    std::string text;
    std::string console;
};

// Asking for no bytes: an empty or single-character text is simply not
// converted; two characters already hold one pair too many.
TEST(StringToBytesZeroCount, NothingWrittenAndOnlyPairsAreRefusedAloud) {
    const ZeroCountCase cases[] = {{"", ""}, {"A", ""}, {"AB", RefusedLine}};
    for (const ZeroCountCase& c : cases) {
        std::uint8_t guard = Untouched;
        ConsoleCapture console;
        EXPECT_EQ(StringToBytes(c.text, &guard, 0), 0) << c.text;
        EXPECT_EQ(guard, Untouched) << c.text;
        EXPECT_EQ(console.Text(), c.console) << c.text;
    }
}

}  // namespace
