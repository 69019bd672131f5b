#include "simulator/sim_state_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/temp_dir.h"

namespace ob310 {
namespace {

using T = SimFault::Target;
using K = SimFault::Kind;

SimDeviceFile Parsed(const std::string& text) {
    SimDeviceFile device;
    std::string error;
    EXPECT_TRUE(ParseSimDeviceFile(text, device, error)) << error;
    return device;
}

// Every key and fault kind in the file's own form reads and formats back to
// the same text; a byte-order mark, blanks and CR LF do not matter.
TEST(SimDeviceFileTest, ReadsEveryKeyAndFormatsBack) {
    const std::string lines =
        "version = 1025\nserial = 000012ab\npin = 0011223344556677\nerase_count = 65535\n"
        "locked = yes\ncustom_data = 000102030405060708090a0b0c0d0e0f\nled_mode = 7f\n"
        "led_params = 0102030405060708\nled_data = 0a0b0c0d0e0f101112131415161718\n"
        "mouse_data = " +
        std::string(62, '0') + "ee\ndebounce = 05\nkeytable 247 = " + std::string(64, 'f') +
        "\nfault = request 5 no-reply\nfault = keytable 10 write-fails\n"
        "fault = request 1 reply-at-wait 16\nfault = keytable 247 refuse ff\n"
        "fault = request 1000000 short 64\nfault = keytable 0 short 1\n"
        "fault = request 3 no-reply runs 1,4\nfault = keytable 0 refuse 01 every 2\n"
        "fault = request 2 reply-twice\n";
    const SimDeviceFile device =
        Parsed("\xEF\xBB\xBF# comment\r\n  devices\t=  2 \r\nruns = 7\n" + lines);
    EXPECT_EQ(device.deviceCount, 2);
    EXPECT_EQ(device.state.serial, 0x12ABu);
    EXPECT_EQ(device.state.customData[1], 0x01);
    EXPECT_EQ(device.faults[3], (SimFault{T::KeyTable, 247, K::Refuse, 0xFF, {}, 0}));
    EXPECT_EQ(device.faults[6], (SimFault{T::Request, 3, K::NoReply, 0, {1, 4}, 0}));
    EXPECT_EQ(device.faults[7].everyRuns, 2u);
    const std::string text = FormatSimDeviceFile(device);
    EXPECT_EQ(text.substr(text.find("\ndevices = ") + 1), "devices = 2\nruns = 7\n" + lines);
}

TEST(SimDeviceFileTest, BrokenLineNamesTheLineAndTheProblem) {
    const char* const runs = "runs needs run numbers of 1 to 999999999, e.g. \"runs 1,3\"";
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"colour = red\n", "unknown key \"colour\""},
        {"devices 1\n", "expected key = value"},
        {"devices = 4\n", "devices must be 0 to 3"},
        {"version = 10260\n", "version needs 1 to 4 hexadecimal digits"},
        {"serial = 0x1234\n", "serial needs 1 to 8 hexadecimal digits"},
        {"pin = 5A3C19E7B2D40F8G\n", "pin needs 16 hexadecimal digits"},
        {"erase_count = 65536\n", "erase_count must be 0 to 65535"},
        {"locked = true\n", "locked must be yes or no"},
        {"led_data = 00000000000000000000000000000000\n", "led_data needs 30 hexadecimal digits"},
        {"keytable 248 = 00\n", "keytable index must be 0 to 247"},
        {"keytable 3 = 00\n", "keytable needs 64 hexadecimal digits"},
        {"fault = request 0 no-reply\n", "fault request number must be 1 to 1000000"},
        {"fault = keytable 248 no-reply\n", "fault keytable index must be 0 to 247"},
        {"fault = erase 1 no-reply\n", "unknown fault target \"erase\" (request or keytable)"},
        {"fault = request 1 explode\n",
         "unknown fault kind \"explode\" (no-reply, reply-at-wait, write-fails, write-hangs, "
         "refuse, short, reply-twice)"},
        {"fault = request 1\n", "fault needs a target and a kind, e.g. \"request 5 no-reply\""},
        {"fault = request 1 refuse 00\n", "refuse needs a status byte of 01 to FF"},
        {"fault = request 1 short 0\n", "short needs a reply length of 1 to 64"},
        {"fault = request 1 short 65\n", "short needs a reply length of 1 to 64"},
        {"fault = request 1 reply-at-wait 0\n",
         "reply-at-wait needs a wait number of 1 to 1000000"},
        {"fault = request 1 no-reply now\n", "unexpected text after the fault"},
        {"fault = request 1 no-reply runs 1,0\n", runs},
        {"fault = request 1 no-reply runs 1,\n", runs},
        {"fault = request 1 no-reply every 0\n", "every needs a number of runs of 1 to 999999999"},
        {"runs = -1\n", "runs must be 0 to 999999999"},
        {"fault = request 1 reply-twice 2\n", "unexpected text after the fault"},
    };
    for (const auto& c : cases) {
        SimDeviceFile device;
        std::string error;
        EXPECT_FALSE(ParseSimDeviceFile("# fine\n" + std::string(c.text), device, error)) << c.text;
        EXPECT_EQ(error, "line 2: " + std::string(c.error));
    }
}

// What the journal gets for a report; the record's words the end-to-end runs check.
TEST(SimDeviceFileTest, ChangesInWords) {
    Ob310State before;
    before.keyTables[5].fill(1);
    Ob310State after;
    after.eraseCount = 1;
    EXPECT_EQ(FormatSimChanges(before, before), "");
    EXPECT_EQ(FormatSimChanges(before, after),
              "erase_count = 1\nkeytable 5 = " + std::string(64, '0') + "\n");
}

TEST(SimDeviceFileOnDiskTest, RefusesWhatIsNotASmallRegularFile) {
    TempDir dir;
    std::vector<std::string> paths = {dir.File("folder")};
    std::filesystem::create_directory(paths[0]);
#ifndef _WIN32
    std::filesystem::create_symlink("/dev/zero", dir.File("zero"));
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    paths.insert(paths.end(), {dir.File("zero"), dir.File("fifo")});
#endif
    for (const std::string& path : paths) {
        SimDeviceFile device;
        std::string error;
        EXPECT_EQ(LoadSimDeviceFile(path, device, error), SimLoadOutcome::Broken);
        EXPECT_EQ(error, path + " is not a regular file");
        EXPECT_EQ(device, SimDeviceFile{});
    }
}

}  // namespace
}  // namespace ob310
