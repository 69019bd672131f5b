#include "linux-vm/gadget_options.h"

#include <gtest/gtest.h>

namespace {

// The kernel run passes good values of every option; these are the edges.
TEST(GadgetOptionsTest, ParsesHexAndCountsAndNamesTheBadValue) {
    const Pin pin = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const struct {
        std::vector<std::string> args;
        std::string error;  // empty: parsed
    } cases[] = {
        {{"--version", "ab0f", "--pin", "0123456789abcDEF", "--silent-request", "2", "--leave-at", "7"}, ""},
        {{"--version", "10260"}, "bad value for --version: 10260"},
        {{"--version", "0x10"}, "bad value for --version: 0x10"},
        {{"--serial", "1234567g"}, "bad value for --serial: 1234567g"},
        {{"--pin", "0123456789ABCDE"}, "bad value for --pin: 0123456789ABCDE"},
        {{"--pin", "+123456789ABCDEF"}, "bad value for --pin: +123456789ABCDEF"},
        {{"--leave-at", "0"}, "bad value for --leave-at: 0"},
        {{"--silent-request", "-1"}, "bad value for --silent-request: -1"},
        {{"--pin"}, "missing value after --pin"},
        {{"--speed", "high"}, "unknown option --speed"},
        {{"--name", "a/b"}, "bad value for --name: a/b"},
        {{"--name", "a.b"}, "bad value for --name: a.b"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = ParseGadgetOptions(c.args, error);
        EXPECT_EQ(error, c.error);
        ASSERT_EQ(options.has_value(), c.error.empty()) << c.error;
    }
    std::string error;
    const auto options = ParseGadgetOptions(cases[0].args, error);
    EXPECT_EQ(std::tuple(options->version, options->serial, options->pin, options->silentRequest, options->leaveAt),
              std::tuple(std::uint16_t{0xAB0F}, std::uint32_t{0x00B31001}, pin, 2u, 7u));
}

}  // namespace
