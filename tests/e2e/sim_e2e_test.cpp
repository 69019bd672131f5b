// ob310_cli_sim run after run on one simulated OB310 that lives in the
// working folder: console bytes, exit statuses, the log file, the device
// file and the record of every report the device received.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

constexpr const char* DeviceFile = "ob310_sim_device.txt";
constexpr const char* RecordFile = "ob310_sim_received.txt";
const std::vector<std::string> WriteExample = {"-f", "example.ob310", "-p", FactoryPinText};
const std::string NewPin = "0011223344556677";

// The report lines of the record after its last "# run" marker.
std::vector<std::string> LastRunReports(const std::string& record) {
    std::vector<std::string> reports;
    std::istringstream lines(record);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# run", 0) == 0) reports.clear();
        else reports.push_back(line);
    }
    return reports;
}

std::string Information(const std::string& customData, const char* lock, int erases) {
    return Lines({"Custom Data = " + customData, std::string("Lock status = ") + lock,
                  "Erase count = " + std::to_string(erases), "Serial = 00b31001", "Revision = 1026"});
}

bool Holds(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

using SimE2eTest = E2eTest;

// The README's main job, then a write that changes the PIN and locks: the
// device keeps what each run did, and the record names each report.
TEST_F(SimE2eTest, RunsFollowOneAnotherOnOneDevice) {
    const std::string zeros(32, '0');
    const std::string example = "4f42333130206578616d706c65203031";  // "OB310 example 01"
    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information(zeros, "open", 0));
    CopyExample();
    EXPECT_EQ(Run(SimPath(), WriteExample).exitStatus, 0);
    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information(example, "open", 1));
    const std::string written = ReadFileBytes(Path(DeviceFile));
    EXPECT_TRUE(Holds(written, "keytable 247 = f7" + std::string(62, '0')) && Holds(written, "debounce = 05"));

    WriteFileBytes(Path("lock.ob310"), ConfigText(256, NewPin, "01"));
    ASSERT_EQ(Run(SimPath(), {"-f", "lock.ob310", "-p", FactoryPinText}).exitStatus, 0);
    const std::string record = ReadFileBytes(Path(RecordFile));
    EXPECT_EQ(record.rfind("# run of ob310_cli_sim 1.", 0), 0u) << record;
    EXPECT_NE(record.find(": -f lock.ob310 -p 5A3C19E7B2D40F86\n"), std::string::npos);
    const std::vector<std::string> reports = LastRunReports(record);
    ASSERT_EQ(reports.size(), 256u);
    EXPECT_EQ(reports[254], "0006000000" + NewPin + std::string(104, '0') + "  request 255: lock, PIN " +
                                "0011223344556677");
    const std::string pin = ", PIN 5A3C19E7B2D40F86";
    const std::pair<int, std::string> words[] = {
        {0, "request 1: information query"}, {1, "request 2: erase" + pin}, {2, "request 3: keytable 0" + pin},
        {249, "request 250: keytable 247" + pin}, {250, "request 251: custom data" + pin},
        {251, "request 252: LED" + pin}, {252, "request 253: mouse" + pin},
        {253, "request 254: new PIN 0011223344556677" + pin}, {255, "request 256: debounce 05" + pin}};
    for (const auto& [at, text] : words) EXPECT_EQ(reports[at].substr(132), text);

    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information("00112233445566778899aabbccddeeff", "locked", 2));
    EXPECT_EQ(Run(SimPath(), {"-c", "-p", FactoryPinText}).output,
              RedLine("Error: OB310 can not erased.", 4));
    EXPECT_EQ(Run(SimPath(), {"-c", "-p", NewPin}).exitStatus, 0);
    const std::string device = ReadFileBytes(Path(DeviceFile));
    EXPECT_TRUE(Holds(device, "erase_count = 3") && Holds(device, "pin = 5a3c19e7b2d40f86") &&
                Holds(device, "locked = no"))
        << device;
    EXPECT_FALSE(std::filesystem::exists(Path("ob310_sim_device.journal")) ||
                 std::filesystem::exists(Path("ob310_sim_device.txt.new")));
}

// Runs that never look for a device touch no file, so they work in a folder
// the user can not write to.
TEST_F(SimE2eTest, RunsWithoutDeviceWorkInAReadOnlyFolder) {
    std::filesystem::permissions(workDir, std::filesystem::perms::owner_read |
                                              std::filesystem::perms::owner_exec);
    const ProcessResult help = Run(SimPath(), {"-h"});
    EXPECT_EQ(help.output, HelpText());
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(Run(SimPath(), {}).exitStatus, 16);
    EXPECT_EQ(Run(SimPath(), {"-p", FactoryPinText}).exitStatus, 0);
    EXPECT_EQ(Run(SimPath(), {"-c"}).exitStatus, 64);
    EXPECT_EQ(Run(SimPath(), {"-f", "missing.ob310", "-p", FactoryPinText}).exitStatus, 8);
    std::filesystem::permissions(workDir, std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::is_empty(workDir));
}

// A change the device can not keep is not taken: the tool reports its step.
TEST_F(SimE2eTest, UnsaveableChangeIsRefused) {
    CopyExample();
    WriteFileBytes(Path(DeviceFile), "erase_count = 5\n");
    std::filesystem::create_directory(Path("ob310_sim_device.journal"));  // no journal can go there
    const std::string said =
        "ob310_cli_sim: can not write ob310_sim_device.journal, so the device did not take request 2";
    const ProcessResult erase = Run(SimPath(), {"-c", "-p", FactoryPinText, "-l", "run.log"});
    EXPECT_EQ(erase.output, said + Eol + RedLine("Error: OB310 can not erased.", 4));
    EXPECT_EQ(erase.exitStatus, 4);
    const ProcessResult write = Run(SimPath(), WriteExample);
    EXPECT_EQ(write.output, said + Eol + RedLine("Error: Can not erase Ombrel310", 4));
    EXPECT_EQ(write.exitStatus, 4);
    EXPECT_EQ(ReadFileBytes(Path(DeviceFile)), "erase_count = 5\n");
    EXPECT_EQ(ReadFileBytes(Path("run.log")), "");
    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information(std::string(32, '0'), "open", 5));
}

// A run killed while it wrote its journal: the next run applies the entries
// written whole and folds them into the device file.
TEST_F(SimE2eTest, KilledRunsJournalIsApplied) {
    WriteFileBytes(Path(DeviceFile), "erase_count = 1\n");
    WriteFileBytes(Path("ob310_sim_device.journal"),
                   "erase_count = 2\n# end of request\nlocked = yes\n# end of request\nerase_count = 3\n");
    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information(std::string(32, '0'), "locked", 2));
    EXPECT_TRUE(Holds(ReadFileBytes(Path(DeviceFile)), "erase_count = 2"));
    EXPECT_FALSE(std::filesystem::exists(Path("ob310_sim_device.journal")));
}

// Scenarios set up in the device file before the run: the message, the exit
// status, the reports the device received, and the fault lines kept.
TEST_F(SimE2eTest, DeviceFileScenarios) {
    const std::string infoFailed = RedLine("Error: Can not get device information of OB310", 4);
    const std::string noDevice = RedLine("Error: No OB310 found on system", 1);
    const std::string fresh = Information(std::string(32, '0'), "open", 0);
    const std::string broken = std::string("ob310_cli_sim: ob310_sim_device.txt ");
    const std::string late = "fault = request 1 reply-at-wait 17\n";
    const struct {
        std::string deviceLines;
        std::vector<std::string> arguments;
        std::string expectedOutput;
        int expectedStatus;
        std::size_t expectedReports;
    } scenarios[] = {
        {"\xEF\xBB\xBF" "devices = 0\r\n", {"-i"}, noDevice, 1, 0},
        {"devices = 3\n", {"-i"}, fresh, 0, 1},  // the first device answers
        {"fault = request 1 reply-at-wait 16\n", {"-i"}, fresh, 0, 1},
        {"fault = request 1 reply-at-wait 17\n", {"-i"}, infoFailed, 4, 1},
        {"fault = request 1 write-fails\n", {"-i"}, infoFailed, 4, 0},
        {"fault = request 2 write-hangs\n", {"-c", "-p", FactoryPinText},
         RedLine("Error: OB310 can not erased.", 4), 4, 1},
        {"fault = request 2 short 64\n", WriteExample, RedLine("Error: Can not erase Ombrel310", 4), 4,
         2},
        {"fault = keytable 247 no-reply\n", WriteExample, RedLine("Error: Fail to write keytables", 4),
         4, 250},
        {"devices = 1\npin = 5A3C19E7B2D40F86\nfault = request 251 refuse 01\n",  // the README's
         WriteExample, RedLine("Error: Fail to write custom data", 4), 4, 251},
        {"fault = request 252 short 1\n", WriteExample, "", 0, 255},
        // The information reply comes after the tool gave up on it: it is
        // never read as the reply of a request that follows.
        {"pin = 1111111111111111\n" + late, {"-c", "-p", FactoryPinText, "-v"},
         std::string("Info: Erase Ombrel310") + Eol + RedLine("Error: OB310 can not erased.", 4), 4, 2},
        // The query's answer comes twice: the stale copy would read as an
        // accepted erase.
        {"pin = 1111111111111111\nfault = request 1 reply-twice\n", {"-c", "-p", FactoryPinText},
         RedLine("Error: OB310 can not erased.", 4), 4, 2},
        {late + "fault = request 251 refuse 01\n", WriteExample,
         RedLine("Error: Fail to write custom data", 4), 4, 251},
        {late + "fault = request 255 refuse ff\n", WriteExample, RedLine("Error: Fail to write debounce", 4),
         4, 255},
        {"devices = 1\ncolour = red\n", {"-i"},
         broken + "line 2: unknown key \"colour\"" + Eol + noDevice, 1, 0},
        {"fault = request 99999999999 no-reply\n", {"-i"},
         broken + "line 1: fault request number must be 1 to 1000000" + Eol + noDevice, 1, 0},
        {std::string(1024 * 1024 + 1, '#'), {"-i"}, broken + "is larger than 1 MiB" + Eol + noDevice, 1, 0},
    };
    CopyExample();
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.deviceLines.substr(0, 60));
        std::filesystem::remove(Path(RecordFile));
        WriteFileBytes(Path(DeviceFile), scenario.deviceLines);
        const ProcessResult result = Run(SimPath(), scenario.arguments);
        EXPECT_EQ(result.output, scenario.expectedOutput);
        EXPECT_EQ(result.exitStatus, scenario.expectedStatus);
        EXPECT_EQ(LastRunReports(ReadFileBytes(Path(RecordFile))).size(), scenario.expectedReports);
        const std::size_t fault = scenario.deviceLines.find("fault");
        if (fault != std::string::npos) {  // the scenario outlives the run
            const std::string& lines = scenario.deviceLines;
            const std::string line = lines.substr(fault, lines.find('\n', fault) - fault);
            EXPECT_TRUE(Holds(ReadFileBytes(Path(DeviceFile)), line)) << line;
        }
    }
}

}  // namespace
