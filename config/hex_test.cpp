#include "config/hex.h"

#include <gtest/gtest.h>

#include "output/console.h"

// What the reader's and the command line's tests do not reach: the bytes a
// failed conversion leaves, and over-long text refused before any digit.
TEST(StringToBytes, ResultBytesAndMessage) {
    const struct {
        std::string text;
        std::size_t n;
        int result;
        std::vector<std::uint8_t> out;  // n bytes and a guard; 0xEE: untouched
    } cases[] = {
        {"5a3C19e7B2d40F86Z", 8, 8, {0x5A, 0x3C, 0x19, 0xE7, 0xB2, 0xD4, 0x0F, 0x86, 0xEE}},
        {"zzzzzzzzzzzzzzzzzz", 8, 0, std::vector<std::uint8_t>(9, 0xEE)},
        {"5a3cX9e7b2d40f86", 8, 0, {0x5A, 0x3C, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
        {"ABC", 2, 2, {0xAB, 0x0C, 0xEE}}, {"AB-", 2, 0, {0xAB, 0xEE, 0xEE}},
        {"AB", 2, StringToBytesDigitsRanOut, {0xAB, 0xEE, 0xEE}}, {"\xC1" "1", 1, 0, {0xEE, 0xEE}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out(c.n + 1, 0xEE);
        ConsoleCapture console;
        EXPECT_EQ(StringToBytes(c.text, out.data(), c.n), c.result) << c.text;
        EXPECT_EQ(out, c.out) << c.text;
        EXPECT_EQ(console.Text(), c.text.size() > 2 * c.n + 1 ? "error StringToBytes\n" : "") << c.text;
    }
}
