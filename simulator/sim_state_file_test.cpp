#include "simulator/sim_state_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/file_bytes.h"

namespace {

SimDeviceFile Parsed(const std::string& text) {
    SimDeviceFile device;
    std::string error;
    EXPECT_TRUE(ParseSimDeviceFile(text, device, error)) << error;
    return device;
}

TEST(SimDeviceFileTest, EmptyTextKeepsFactoryDefaults) {
    const SimDeviceFile device = Parsed("# nothing but a comment\n\n   \n");
    EXPECT_EQ(device.deviceCount, 1);
    EXPECT_EQ(device.state.versionNumber, 0x1026);
    EXPECT_EQ(device.state.serial, 0x00B31001u);
    EXPECT_EQ(device.state.pin, FactoryDefaultPin);
    EXPECT_EQ(device.state.eraseCount, 0);
    EXPECT_FALSE(device.state.locked);
    EXPECT_TRUE(device.faults.empty());
}

TEST(SimDeviceFileTest, ReadsEveryKeyWithBlanksAndCrLf) {
    const SimDeviceFile device = Parsed(
        "devices=2\r\n"
        "  version =  1025 \r\n"
        "serial\t= 12AB\n"
        "pin = 0011223344556677\n"
        "erase_count = 65535\n"
        "locked = yes\n"
        "custom_data = 00112233445566778899AABBCCDDEEFF\n"
        "led_mode = 7f\n"
        "led_params = 0102030405060708\n"
        "led_data = 0a0b0c0d0e0f101112131415161718\n"
        "mouse_data = " + std::string(62, '0') + "ee\n"
        "debounce = 05\n"
        "keytable 247 = " + std::string(64, 'f') + "\n");
    EXPECT_EQ(device.deviceCount, 2);
    EXPECT_EQ(device.state.versionNumber, 0x1025);
    EXPECT_EQ(device.state.serial, 0x12ABu);
    EXPECT_EQ(device.state.pin, (Pin{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    EXPECT_EQ(device.state.eraseCount, 65535);
    EXPECT_TRUE(device.state.locked);
    EXPECT_EQ(device.state.customData[10], 0xAA);
    EXPECT_EQ(device.state.customData[15], 0xFF);
    EXPECT_EQ(device.state.ledMode, 0x7F);
    EXPECT_EQ(device.state.ledParams[7], 0x08);
    EXPECT_EQ(device.state.ledData[0], 0x0A);
    EXPECT_EQ(device.state.ledData[14], 0x18);
    EXPECT_EQ(device.state.mouseData[31], 0xEE);
    EXPECT_EQ(device.state.debounce, 0x05);
    EXPECT_EQ(device.state.keyTables[247][31], 0xFF);
    EXPECT_EQ(device.state.keyTables[246][0], 0x00);
}

struct FaultCase {
    const char* text;
    SimFault expected;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.text; }

class SimFaultLineTest : public testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultLineTest, ParsesAndFormatsBack) {
    const SimDeviceFile device = Parsed(std::string("fault = ") + GetParam().text + "\n");
    ASSERT_EQ(device.faults.size(), 1u);
    EXPECT_EQ(device.faults[0], GetParam().expected);
    EXPECT_EQ(FormatSimFault(device.faults[0]), GetParam().text);
}

using T = SimFault::Target;
using K = SimFault::Kind;
INSTANTIATE_TEST_SUITE_P(
    Kinds, SimFaultLineTest,
    testing::Values(FaultCase{"request 5 no-reply", {T::Request, 5, K::NoReply, 0}},
                    FaultCase{"request 1 reply-at-wait 16", {T::Request, 1, K::ReplyAtWait, 16}},
                    FaultCase{"keytable 10 write-fails", {T::KeyTable, 10, K::WriteFails, 0}},
                    FaultCase{"request 3 refuse 01", {T::Request, 3, K::Refuse, 1}},
                    FaultCase{"keytable 247 refuse ff", {T::KeyTable, 247, K::Refuse, 0xFF}},
                    FaultCase{"request 2 short 3", {T::Request, 2, K::Short, 3}},
                    FaultCase{"keytable 0 short 0", {T::KeyTable, 0, K::Short, 0}}));

TEST(SimDeviceFileTest, FaultLinesAddUpInOrder) {
    const SimDeviceFile device =
        Parsed("fault = request 2 no-reply\nfault = keytable 7 refuse 02\n");
    ASSERT_EQ(device.faults.size(), 2u);
    EXPECT_EQ(device.faults[0].target, SimFault::Target::Request);
    EXPECT_EQ(device.faults[1].index, 7u);
}

struct BrokenCase {
    const char* text;
    const char* error;
};
void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.error; }

class SimDeviceFileBrokenTest : public testing::TestWithParam<BrokenCase> {};

TEST_P(SimDeviceFileBrokenTest, NamesTheLineAndTheProblem) {
    SimDeviceFile device;
    std::string error;
    EXPECT_FALSE(ParseSimDeviceFile(GetParam().text, device, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SimDeviceFileBrokenTest,
    testing::Values(
        BrokenCase{"# fine\ncolour = red\n", "line 2: unknown key \"colour\""},
        BrokenCase{"devices 1\n", "line 1: expected key = value"},
        BrokenCase{"devices = 4\n", "line 1: devices must be 0 to 3"},
        BrokenCase{"devices = -1\n", "line 1: devices must be 0 to 3"},
        BrokenCase{"version = 10260\n", "line 1: version needs 1 to 4 hexadecimal digits"},
        BrokenCase{"version =\n", "line 1: version needs 1 to 4 hexadecimal digits"},
        BrokenCase{"serial = 0x1234\n", "line 1: serial needs 1 to 8 hexadecimal digits"},
        BrokenCase{"pin = 5A3C19E7B2D40F8\n", "line 1: pin needs 16 hexadecimal digits"},
        BrokenCase{"pin = 5A3C19E7B2D40F8G\n", "line 1: pin needs 16 hexadecimal digits"},
        BrokenCase{"erase_count = 65536\n", "line 1: erase_count must be 0 to 65535"},
        BrokenCase{"locked = true\n", "line 1: locked must be yes or no"},
        BrokenCase{"custom_data = 00\n", "line 1: custom_data needs 32 hexadecimal digits"},
        BrokenCase{"led_data = 00000000000000000000000000000000\n",
                   "line 1: led_data needs 30 hexadecimal digits"},
        BrokenCase{"debounce = 5\n", "line 1: debounce needs 2 hexadecimal digits"},
        BrokenCase{"keytable 248 = 00\n", "line 1: keytable index must be 0 to 247"},
        BrokenCase{"keytable 3 = 00\n", "line 1: keytable needs 64 hexadecimal digits"},
        BrokenCase{"fault = request 0 no-reply\n", "line 1: fault request number must be 1 or more"},
        BrokenCase{"fault = keytable 248 no-reply\n", "line 1: fault keytable index must be 0 to 247"},
        BrokenCase{"fault = erase 1 no-reply\n",
                   "line 1: unknown fault target \"erase\" (request or keytable)"},
        BrokenCase{"fault = request 1 explode\n",
                   "line 1: unknown fault kind \"explode\" (no-reply, reply-at-wait, write-fails, "
                   "refuse, short)"},
        BrokenCase{"fault = request 1\n",
                   "line 1: fault needs a target and a kind, e.g. \"request 5 no-reply\""},
        BrokenCase{"fault = request 1 refuse 00\n", "line 1: refuse needs a status byte of 01 to FF"},
        BrokenCase{"fault = request 1 short 65\n", "line 1: short needs a reply length of 0 to 64"},
        BrokenCase{"fault = request 1 reply-at-wait 0\n",
                   "line 1: reply-at-wait needs a wait number of 1 or more"},
        BrokenCase{"fault = request 1 no-reply now\n", "line 1: unexpected text after the fault"}));

TEST(SimDeviceFileTest, FormattedTextParsesBackToTheSameDevice) {
    SimDeviceFile device;
    device.deviceCount = 0;
    device.state.versionNumber = 0x0100;
    device.state.serial = 0x0A0B0C0D;
    device.state.pin = Pin{1, 2, 3, 4, 5, 6, 7, 8};
    device.state.eraseCount = 298;
    device.state.locked = true;
    device.state.customData[0] = 0x4F;
    device.state.ledMode = 3;
    device.state.ledParams[1] = 0x11;
    device.state.ledData[14] = 0xEE;
    device.state.mouseData[31] = 0x99;
    device.state.debounce = 0x0C;
    device.state.keyTables[0][0] = 0x01;
    device.state.keyTables[247][31] = 0xF7;
    device.faults = {{T::KeyTable, 10, K::WriteFails, 0}, {T::Request, 1, K::ReplyAtWait, 16}};

    const std::string text = FormatSimDeviceFile(device);
    EXPECT_NE(text.find("\nserial = 0a0b0c0d\n"), std::string::npos);
    EXPECT_NE(text.find("\nkeytable 247 = "), std::string::npos);
    EXPECT_EQ(text.find("\nkeytable 1 = "), std::string::npos);  // all-zero records are left out
    EXPECT_NE(text.find("\nfault = keytable 10 write-fails\nfault = request 1 reply-at-wait 16\n"),
              std::string::npos);

    const SimDeviceFile back = Parsed(text);
    EXPECT_EQ(back.deviceCount, 0);
    EXPECT_EQ(back.state.versionNumber, device.state.versionNumber);
    EXPECT_EQ(back.state.serial, device.state.serial);
    EXPECT_EQ(back.state.pin, device.state.pin);
    EXPECT_EQ(back.state.eraseCount, device.state.eraseCount);
    EXPECT_EQ(back.state.locked, device.state.locked);
    EXPECT_EQ(back.state.customData, device.state.customData);
    EXPECT_EQ(back.state.ledMode, device.state.ledMode);
    EXPECT_EQ(back.state.ledParams, device.state.ledParams);
    EXPECT_EQ(back.state.ledData, device.state.ledData);
    EXPECT_EQ(back.state.mouseData, device.state.mouseData);
    EXPECT_EQ(back.state.debounce, device.state.debounce);
    EXPECT_EQ(back.state.keyTables, device.state.keyTables);
    EXPECT_EQ(back.faults, device.faults);
}

TEST(SimDeviceFileTest, ReceivedReportIsLowerCaseHexTwoDigitsPerByte) {
    const std::uint8_t report[] = {0x00, 0x03, 0x0A, 0xFF};
    EXPECT_EQ(FormatReceivedReport(report, sizeof report), "00030aff");
}

class SimDeviceFileOnDiskTest : public testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("ob310_sim_state_" + std::string(testing::UnitTest::GetInstance()
                                                     ->current_test_info()
                                                     ->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        path = (dir / SimDeviceFileName).string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path dir;
    std::string path;
};

TEST_F(SimDeviceFileOnDiskTest, MissingFileIsCreatedWithFactoryDefaults) {
    SimDeviceFile device;
    std::string error;
    EXPECT_EQ(LoadSimDeviceFile(path, device, error), SimLoadOutcome::Created);
    EXPECT_EQ(ReadFileBytes(path), FormatSimDeviceFile(SimDeviceFile{}));
    SimDeviceFile again;
    EXPECT_EQ(LoadSimDeviceFile(path, again, error), SimLoadOutcome::Loaded);
    EXPECT_EQ(again.state.pin, FactoryDefaultPin);
}

TEST_F(SimDeviceFileOnDiskTest, SaveReplacesTheWholeFileAndLeavesNoSideFile) {
    SimDeviceFile device;
    device.state.eraseCount = 7;
    ASSERT_TRUE(SaveSimDeviceFile(path, device));
    device.state.eraseCount = 8;
    ASSERT_TRUE(SaveSimDeviceFile(path, device));
    EXPECT_EQ(ReadFileBytes(path), FormatSimDeviceFile(device));
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(SimDeviceFileOnDiskTest, BrokenFileNamesFileAndLine) {
    std::ofstream(path) << "devices = 1\nlocked = maybe\n";
    SimDeviceFile device;
    std::string error;
    EXPECT_EQ(LoadSimDeviceFile(path, device, error), SimLoadOutcome::Broken);
    EXPECT_EQ(error, path + " line 2: locked must be yes or no");
}

TEST_F(SimDeviceFileOnDiskTest, FileInAMissingFolderCannotBeCreated) {
    SimDeviceFile device;
    std::string error;
    const std::string missing = (dir / "no_such_folder" / SimDeviceFileName).string();
    EXPECT_EQ(LoadSimDeviceFile(missing, device, error), SimLoadOutcome::Broken);
    EXPECT_EQ(error, "can not create " + missing);
}

}  // namespace
