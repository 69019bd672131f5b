#include "linux-vm/gadget_options.h"

#include <gtest/gtest.h>

namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::string> args;
    bool ok;
    std::string error;
    std::uint16_t version = 0x1026;
    std::uint32_t serial = 0x00B31001;
    Pin pin = FactoryDefaultPin;
    unsigned silentRequest = 0;
    unsigned leaveAt = 0;
};

class GadgetOptionsTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(GadgetOptionsTest, Parse) {
    const OptionsCase& c = GetParam();
    std::string error;
    const auto options = ParseGadgetOptions(c.args, error);
    ASSERT_EQ(options.has_value(), c.ok) << error;
    EXPECT_EQ(error, c.error);
    if (!options) return;
    EXPECT_EQ(options->version, c.version);
    EXPECT_EQ(options->serial, c.serial);
    EXPECT_EQ(options->pin, c.pin);
    EXPECT_EQ(options->silentRequest, c.silentRequest);
    EXPECT_EQ(options->leaveAt, c.leaveAt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GadgetOptionsTest,
    testing::Values(
        OptionsCase{"FactoryStateByDefault", {}, true, ""},
        OptionsCase{"Version", {"--version", "1025"}, true, "", 0x1025},
        OptionsCase{"VersionLowerCase", {"--version", "ab0f"}, true, "", 0xAB0F},
        OptionsCase{"VersionTooLong", {"--version", "10260"}, false, "bad value for --version: 10260"},
        OptionsCase{"VersionWithPrefix", {"--version", "0x10"}, false, "bad value for --version: 0x10"},
        OptionsCase{"Serial", {"--serial", "12345678"}, true, "", 0x1026, 0x12345678},
        OptionsCase{"SerialNotHex", {"--serial", "1234567g"}, false, "bad value for --serial: 1234567g"},
        OptionsCase{"Pin", {"--pin", "0123456789abcDEF"}, true, "", 0x1026, 0x00B31001,
                    Pin{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        OptionsCase{"PinFifteenDigits", {"--pin", "0123456789ABCDE"}, false,
                    "bad value for --pin: 0123456789ABCDE"},
        OptionsCase{"PinWithSign", {"--pin", "+123456789ABCDEF"}, false,
                    "bad value for --pin: +123456789ABCDEF"},
        OptionsCase{"SilentRequestAndLeaveAt", {"--silent-request", "2", "--leave-at", "7"}, true, "", 0x1026,
                    0x00B31001, FactoryDefaultPin, 2, 7},
        OptionsCase{"LeaveAtZero", {"--leave-at", "0"}, false, "bad value for --leave-at: 0"},
        OptionsCase{"SilentRequestNegative", {"--silent-request", "-1"}, false,
                    "bad value for --silent-request: -1"},
        OptionsCase{"MissingValue", {"--pin"}, false, "missing value after --pin"},
        OptionsCase{"Unknown", {"--speed", "high"}, false, "unknown option --speed"},
        OptionsCase{"NameWithSlash", {"--name", "a/b"}, false, "bad value for --name: a/b"},
        OptionsCase{"NameWithDot", {"--name", "a.b"}, false, "bad value for --name: a.b"}),
    [](const testing::TestParamInfo<OptionsCase>& info) { return info.param.name; });

}  // namespace
