// ob310_cli_sim run after run on one simulated OB310 that lives in the
// working folder: console bytes, exit statuses, the log file, the device
// file and the record of every report the device received.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <regex>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

constexpr const char* DeviceFile = "ob310_sim_device.txt";
constexpr const char* RecordFile = "ob310_sim_received.txt";

using Bytes = std::vector<std::uint8_t>;

const Bytes FactoryPin = {0x5A, 0x3C, 0x19, 0xE7, 0xB2, 0xD4, 0x0F, 0x86};

std::string Hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0xF]);
    }
    return text;
}

// A 65-byte request: command, index, PIN, data from offset 13, the rest `fill`.
std::string Request(std::uint8_t command, std::uint8_t index, const Bytes& pin, const Bytes& data,
                    std::uint8_t fill = 0x00) {
    Bytes report(65, fill);
    std::fill(report.begin(), report.begin() + 13, 0x00);
    report[1] = command;
    report[2] = index;
    std::copy(pin.begin(), pin.end(), report.begin() + 5);
    std::copy(data.begin(), data.end(), report.begin() + 13);
    return Hex(report);
}

// The reports of one run, read from the record: the lines after the last
// "# run" marker.
std::vector<std::string> LastRunReports(const std::string& record) {
    std::vector<std::string> reports;
    std::istringstream lines(record);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("# run", 0) == 0) reports.clear();
        else if (!line.empty()) reports.push_back(line);
    }
    return reports;
}

const std::string FreshInformation = Lines({
    "Custom Data = 00000000000000000000000000000000",
    "Lock status = open",
    "Erase count = 0",
    "Serial = 00b31001",
    "Revision = 1026",
});

const std::string ExampleCustomData = "4f42333130206578616d706c65203031";  // "OB310 example 01"

const std::string VerboseWrite = VerboseLine("Start programming OB310") +
                                 VerboseLine("Erase OB310") + VerboseLine("Success: Write complete");

using SimE2eTest = E2eTest;

TEST_F(SimE2eTest, InformationOnAFreshDeviceCreatesItsFile) {
    const ProcessResult result = Run(SimPath(), {"-i"});
    EXPECT_EQ(result.output, FreshInformation);
    EXPECT_EQ(result.exitStatus, 0);
    const std::string device = ReadFileBytes(Path(DeviceFile));
    EXPECT_NE(device.find("\npin = 5a3c19e7b2d40f86\n"), std::string::npos) << device;
    EXPECT_NE(device.find("\nerase_count = 0\n"), std::string::npos);
    EXPECT_NE(device.find("\nlocked = no\n"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(Path(RecordFile)), "# run: -i\n" + std::string(130, '0') + "\n");
}

// The README's main job: write the example with -v and a log, then -i.
TEST_F(SimE2eTest, WriteThenInformationFollowOneAnother) {
    CopyExample();
    const ProcessResult write =
        Run(SimPath(), {"-f", "example.ob310", "-p", FactoryPinText, "-v", "-l", "demo.log"});
    EXPECT_EQ(write.output, VerboseWrite);
    EXPECT_EQ(write.exitStatus, 0);

    const std::string log = ReadFileBytes(Path("demo.log"));
    EXPECT_TRUE(std::regex_match(
        log, std::regex("[0-3][0-9]\\.[01][0-9]\\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]: "
                        "CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=example\\.ob310;\r\n")))
        << log;

    const ProcessResult info = Run(SimPath(), {"-i"});
    EXPECT_EQ(info.output, Lines({"Custom Data = " + ExampleCustomData, "Lock status = open",
                                  "Erase count = 1", "Serial = 00b31001", "Revision = 1026"}));
    EXPECT_EQ(info.exitStatus, 0);

    // The same again: the device still holds the factory PIN and stays open.
    const ProcessResult again =
        Run(SimPath(), {"-f", "example.ob310", "-p", FactoryPinText, "-l", "demo.log"});
    EXPECT_EQ(again.output, "");
    EXPECT_EQ(again.exitStatus, 0);
    const std::string device = ReadFileBytes(Path(DeviceFile));
    EXPECT_NE(device.find("\nerase_count = 2\n"), std::string::npos) << device;
    EXPECT_NE(device.find("\ncustom_data = " + ExampleCustomData + "\n"), std::string::npos);
    EXPECT_NE(device.find("\nkeytable 247 = f7" + std::string(62, '0') + "\n"), std::string::npos);
    EXPECT_NE(device.find("\ndebounce = 05\n"), std::string::npos);
    // Two successful runs, two log lines, each ending in CR LF.
    const std::string twoLines = ReadFileBytes(Path("demo.log"));
    EXPECT_EQ(twoLines.size(), 2 * log.size());
    EXPECT_EQ(twoLines.substr(twoLines.size() - 2), "\r\n");
}

TEST_F(SimE2eTest, RecordHoldsEveryReportOfTheWriteInOrder) {
    CopyExample();
    const ProcessResult write = Run(SimPath(), {"-f", "example.ob310", "-p", FactoryPinText});
    ASSERT_EQ(write.exitStatus, 0);

    std::vector<std::string> expected;
    expected.push_back(std::string(130, '0'));             // information query
    expected.push_back(Request(0x03, 0, FactoryPin, {}));  // erase with the -p PIN
    for (int i = 0; i < 248; ++i) {
        Bytes record(32, 0x00);
        record[0] = static_cast<std::uint8_t>(i);  // the example numbers its records
        expected.push_back(Request(0x02, static_cast<std::uint8_t>(i), FactoryPin, record));
    }
    expected.push_back(Request(0x05, 0, FactoryPin,
                               {0x4f, 0x42, 0x33, 0x31, 0x30, 0x20, 0x65, 0x78, 0x61, 0x6d, 0x70,
                                0x6c, 0x65, 0x20, 0x30, 0x31}));
    Bytes led(25, 0x00);  // mode, 0xFF, 8 parameter bytes, 15 LED data bytes
    led[1] = 0xFF;
    expected.push_back(Request(0x08, 0, FactoryPin, led, 0xFF));
    expected.push_back(Request(0x0A, 0, FactoryPin, Bytes(32, 0x00)));
    expected.push_back(Request(0x04, 0, FactoryPin, FactoryPin));  // new PIN = factory PIN
    expected.push_back(Request(0x0D, 0, FactoryPin, {0x05}));      // no lock: lock line is 00

    const std::string record = ReadFileBytes(Path(RecordFile));
    EXPECT_EQ(record.rfind("# run: -f example.ob310 -p 5A3C19E7B2D40F86\n", 0), 0u);
    const std::vector<std::string> reports = LastRunReports(record);
    ASSERT_EQ(reports.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(reports[i], expected[i]) << "report " << i;
    }
}

TEST_F(SimE2eTest, LockedByTheFileShowsLockedAndCarriesTheNewPin) {
    WriteFileBytes(Path("lock.ob310"), ConfigText(256, "0011223344556677", "01"));

    const ProcessResult write = Run(SimPath(), {"-f", "lock.ob310", "-p", FactoryPinText});
    EXPECT_EQ(write.output, "");
    ASSERT_EQ(write.exitStatus, 0);
    const std::vector<std::string> reports = LastRunReports(ReadFileBytes(Path(RecordFile)));
    ASSERT_EQ(reports.size(), 256u);
    EXPECT_EQ(reports[254],
              Request(0x06, 0, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}, {}));
    EXPECT_EQ(reports[255], Request(0x0D, 0, FactoryPin, {0x05}));  // debounce: factory PIN

    const ProcessResult info = Run(SimPath(), {"-i"});
    EXPECT_NE(info.output.find(std::string("Lock status = locked") + Eol), std::string::npos)
        << info.output;
    const std::string device = ReadFileBytes(Path(DeviceFile));
    EXPECT_NE(device.find("\npin = 0011223344556677\n"), std::string::npos) << device;
    EXPECT_NE(device.find("\nlocked = yes\n"), std::string::npos);
}

// A new PIN from the file is what the device holds in the next run.
TEST_F(SimE2eTest, NewPinHoldsForTheNextRun) {
    WriteFileBytes(Path("pin.ob310"), ConfigText(256, "0011223344556677", "00"));
    const ProcessResult write = Run(SimPath(), {"-f", "pin.ob310", "-p", FactoryPinText});
    EXPECT_EQ(write.output, "");
    EXPECT_EQ(write.exitStatus, 0);

    const ProcessResult oldPin = Run(SimPath(), {"-c", "-p", FactoryPinText});
    EXPECT_EQ(oldPin.output, RedLine("Error: OB310 can not erased.", 4));
    EXPECT_EQ(oldPin.exitStatus, 4);

    const ProcessResult newPin = Run(SimPath(), {"-c", "-p", "0011223344556677"});
    EXPECT_EQ(newPin.output, "");
    EXPECT_EQ(newPin.exitStatus, 0);
    const std::string device = ReadFileBytes(Path(DeviceFile));
    EXPECT_NE(device.find("\nerase_count = 2\n"), std::string::npos) << device;
    EXPECT_NE(device.find("\npin = 5a3c19e7b2d40f86\n"), std::string::npos);
}

TEST_F(SimE2eTest, EraseWithVerboseAndLog) {
    const ProcessResult erase = Run(SimPath(), {"-c", "-p", FactoryPinText, "-v", "-l", "erase.log"});
    EXPECT_EQ(erase.output,
              std::string("Info: Erase Ombrel310") + Eol +
                  VerboseLine("Success: OB310 successful erased."));
    EXPECT_EQ(erase.exitStatus, 0);
    EXPECT_TRUE(std::regex_match(ReadFileBytes(Path("erase.log")),
                                 std::regex("[0-9.]{10} [0-9:]{8}: "
                                            "CMD=erase;STATE=success;SN=00B31001;REV=1026;\r\n")));
    const std::vector<std::string> reports = LastRunReports(ReadFileBytes(Path(RecordFile)));
    EXPECT_EQ(reports, (std::vector<std::string>{std::string(130, '0'),
                                                 Request(0x03, 0, FactoryPin, {})}));
}

// Scenarios set up in the device file before the run.
struct ScenarioCase {
    const char* name;
    std::string deviceLines;
    std::vector<std::string> arguments;
    std::string expectedOutput;
    int expectedStatus;
    std::size_t expectedReports;  // reports the device received in the run
};
void PrintTo(const ScenarioCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> WriteExample = {"-f", "example.ob310", "-p", FactoryPinText};

std::vector<ScenarioCase> ScenarioCases() {
    const std::string infoFailed = RedLine("Error: Can not get device information of OB310", 4);
    const std::string late = "fault = request 1 reply-at-wait 17\n";
    return {
        {"NoDeviceInformation", "devices = 0\n", {"-i"},
         RedLine("Error: No OB310 found on system", 1), 1, 0},
        {"NoDeviceWrite", "devices = 0\n", WriteExample,
         RedLine("Error: No OB310 found on system", 1), 1, 0},
        {"TwoDevicesWrite", "devices = 2\n", WriteExample,
         RedLine("Error: More than on OB310 detected.", 2), 2, 0},
        {"ThreeDevicesWrite", "devices = 3\n", WriteExample,
         RedLine("Error: More than on OB310 detected.", 2), 2, 0},
        {"TwoDevicesInformationShowsTheFirst", "devices = 2\n", {"-i"}, FreshInformation, 0, 1},
        {"InformationNoReply", "fault = request 1 no-reply\n", {"-i"}, infoFailed, 4, 1},
        {"InformationReplyInTheLastWait", "fault = request 1 reply-at-wait 16\n", {"-i"},
         FreshInformation, 0, 1},
        {"InformationReplyTooLate", "fault = request 1 reply-at-wait 17\n", {"-i"}, infoFailed, 4, 1},
        {"InformationWriteFails", "fault = request 1 write-fails\n", {"-i"}, infoFailed, 4, 0},
        {"EraseWrongPin", "pin = 0011223344556677\n", {"-c", "-p", FactoryPinText},
         RedLine("Error: OB310 can not erased.", 4), 4, 2},
        {"EraseRightPin", "pin = 0011223344556677\n", {"-c", "-p", "0011223344556677"}, "", 0, 2},
        {"WriteEraseShortReply", "fault = request 2 short 3\n", WriteExample,
         RedLine("Error: Can not erase Ombrel310", 4), 4, 2},
        {"WriteEraseNoReply", "fault = request 2 no-reply\n", WriteExample,
         RedLine("Error: Can not erase Ombrel310", 4), 4, 2},
        {"WriteKeyTableFails", "fault = keytable 10 write-fails\n", WriteExample,
         RedLine("Error: Fail to write keytables", 4), 4, 12},
        {"WriteKeyTableNoReply", "fault = keytable 247 no-reply\n", WriteExample,
         RedLine("Error: Fail to write keytables", 4), 4, 250},
        {"WriteKeyTableRefusedGoesOn", "fault = keytable 5 refuse 02\n", WriteExample, "", 0, 255},
        {"WriteCustomDataRefused", "fault = request 251 refuse 01\n", WriteExample,
         RedLine("Error: Fail to write custom data", 4), 4, 251},
        {"WriteLedShortEmptyReply", "fault = request 252 short 0\n", WriteExample,
         RedLine("Error: Fail to write LED data", 4), 4, 252},
        {"WriteMouseNoReply", "fault = request 253 no-reply\n", WriteExample,
         RedLine("Error: Fail to write mouse data", 4), 4, 253},
        {"WriteNewPinRefused", "fault = request 254 refuse 01\n", WriteExample,
         RedLine("Error: Fail to write new PIN", 4), 4, 254},
        {"WriteDebounceRefused", "fault = request 255 refuse ff\n", WriteExample,
         RedLine("Error: Fail to write debounce", 4), 4, 255},
        {"WriteBeforeRevision1026HasNoDebounce", "version = 1025\n", WriteExample, "", 0, 254},
        // The information reply comes after the tool gave up on it: it is
        // never read as the reply of a request that follows.
        {"EraseRefusedAfterLateInformationReply", "pin = 1111111111111111\n" + late,
         {"-c", "-p", FactoryPinText, "-v", "-l", "l.log"},
         std::string("Info: Erase Ombrel310") + Eol + RedLine("Error: OB310 can not erased.", 4), 4, 2},
        {"WriteCustomDataRefusedAfterLateInformationReply", late + "fault = request 251 refuse 01\n", WriteExample,
         RedLine("Error: Fail to write custom data", 4), 4, 251},
        {"WriteDebounceRefusedAfterLateInformationReply", late + "fault = request 255 refuse ff\n", WriteExample,
         RedLine("Error: Fail to write debounce", 4), 4, 255},
    };
}

class SimScenarioE2eTest : public E2eTest, public testing::WithParamInterface<ScenarioCase> {};

TEST_P(SimScenarioE2eTest, EndsWithItsMessageStatusAndReports) {
    const ScenarioCase& scenario = GetParam();
    CopyExample();
    WriteFileBytes(Path(DeviceFile), scenario.deviceLines);
    const ProcessResult result = Run(SimPath(), scenario.arguments);
    EXPECT_EQ(result.output, scenario.expectedOutput);
    EXPECT_EQ(result.exitStatus, scenario.expectedStatus);
    EXPECT_EQ(LastRunReports(ReadFileBytes(Path(RecordFile))).size(), scenario.expectedReports);
    // The scenario survives the run: the fault lines are still in the file.
    const std::string device = ReadFileBytes(Path(DeviceFile));
    std::istringstream lines(scenario.deviceLines);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("fault", 0) == 0) {
            EXPECT_NE(device.find(line), std::string::npos) << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DeviceFile, SimScenarioE2eTest, testing::ValuesIn(ScenarioCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimE2eTest, ContentErrorTouchesNoDevice) {
    WriteFileBytes(Path("table.ob310"), ConfigText(254));
    const ProcessResult result = Run(SimPath(), {"-f", "table.ob310", "-p", FactoryPinText});
    EXPECT_EQ(result.exitStatus, ContentErrorStatus);
    EXPECT_TRUE(LastRunReports(ReadFileBytes(Path(RecordFile))).empty());
}

TEST_F(SimE2eTest, BrokenDeviceFileRefusesToStart) {
    const std::string broken = "devices = 1\ncolour = red\n";
    WriteFileBytes(Path(DeviceFile), broken);
    const ProcessResult result = Run(SimPath(), {"-i"});
    EXPECT_EQ(result.output,
              std::string("ob310_cli_sim: ob310_sim_device.txt line 2: unknown key \"colour\"") + Eol);
    EXPECT_EQ(result.exitStatus, 16);
    EXPECT_EQ(ReadFileBytes(Path(DeviceFile)), broken);
    EXPECT_FALSE(std::filesystem::exists(Path(RecordFile)));
}

}  // namespace
