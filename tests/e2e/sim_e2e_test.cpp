// ob310_cli_sim run after run on one simulated OB310 that lives in the
// working folder: console bytes, exit statuses, the log file, the device
// file and the record of every report the device received.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

constexpr const char* DeviceFile = "ob310_sim_device.txt";
constexpr const char* RecordFile = "ob310_sim_received.txt";
const std::vector<std::string> WriteExample = {"-f", "example.ob310", "-p", FactoryPinText};
const std::vector<std::string> WriteAndLog = {"-f", "example.ob310", "-p", FactoryPinText,
                                              "-l", "station.log"};
const std::string NewPin = "0011223344556677";

// The report lines of the record after its last "# run" marker.
std::vector<std::string> LastRunReports(const std::string& record) {
    std::vector<std::string> reports;
    std::istringstream lines(record);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# run", 0) == 0)
            reports.clear();
        else
            reports.push_back(line);
    }
    return reports;
}

std::string Information(const std::string& customData, const char* lock, int erases) {
    return Lines({"Custom Data = " + customData, std::string("Lock status = ") + lock,
                  "Erase count = " + std::to_string(erases), "Serial = 00000000",
                  "Revision = 1026"});
}

bool Holds(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// OB310_SIM_DIR of this process, and so of the runs it starts, while the
// object lives; empty, the simulator's default, afterwards.
struct SimFolder {
    explicit SimFolder(const std::string& path) { Set(path); }
    ~SimFolder() { Set(""); }
    static void Set(const std::string& path) {
#ifdef _WIN32
        _putenv_s("OB310_SIM_DIR", path.c_str());
#else
        setenv("OB310_SIM_DIR", path.c_str(), 1);
#endif
    }
};

class SimE2eTest : public E2eTest {
protected:
    // A run whose standard error the test checks itself.
    ProcessResult RunSim(const std::vector<std::string>& arguments) {
        return RunProcesses(SimPath(), {arguments}, workDir.string()).front();
    }
};

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
    EXPECT_TRUE(Holds(written, "keytable 247 = f7" + std::string(62, '0')) &&
                Holds(written, "debounce = 05"));

    WriteFileBytes(Path("lock.ob310"), ConfigText(256, NewPin, "01"));
    ASSERT_EQ(Run(SimPath(), {"-f", "lock.ob310", "-p", FactoryPinText}).exitStatus, 0);
    const std::string record = ReadFileBytes(Path(RecordFile));
    EXPECT_EQ(record.rfind("# run 1 of ob310_cli_sim 1.", 0), 0u) << record;
    EXPECT_NE(record.find(": -f lock.ob310 -p 5A3C19E7B2D40F86\n"), std::string::npos);
    const std::vector<std::string> reports = LastRunReports(record);
    ASSERT_EQ(reports.size(), 256u);
    EXPECT_EQ(reports[254], "0006000000" + NewPin + std::string(104, '0') +
                                "  request 255: lock, PIN " + "0011223344556677 -> status 00");
    const std::string pin = ", PIN 5A3C19E7B2D40F86 -> status 00";
    const std::pair<int, std::string> words[] = {
        {0, "request 1: information query -> status 00"},
        {1, "request 2: erase" + pin},
        {2, "request 3: keytable 0" + pin},
        {249, "request 250: keytable 247" + pin},
        {250, "request 251: custom data" + pin},
        {251, "request 252: LED" + pin},
        {252, "request 253: mouse" + pin},
        {253, "request 254: new PIN 0011223344556677" + pin},
        {255, "request 256: debounce 05" + pin}};
    for (const auto& [at, text] : words)
        EXPECT_EQ(reports[at].substr(132), text);

    EXPECT_EQ(Run(SimPath(), {"-i"}).output,
              Information("00112233445566778899aabbccddeeff", "locked", 2));
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
    std::filesystem::permissions(
        workDir, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(Run(SimPath(), {"-h"}).exitStatus, 0);
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
        "ob310_cli_sim: can not write ob310_sim_device.journal, so the "
        "device did not take request 2";
    const ProcessResult erase = RunSim({"-c", "-p", FactoryPinText, "-l", "run.log"});
    EXPECT_EQ(erase.output, RedLine("Error: OB310 can not erased.", 4));
    EXPECT_EQ(erase.errorOutput, said + Eol);
    EXPECT_EQ(erase.exitStatus, 4);
    const ProcessResult write = RunSim(WriteExample);
    EXPECT_EQ(write.output, RedLine("Error: Can not erase Ombrel310", 4));
    EXPECT_EQ(write.errorOutput, said + Eol);
    EXPECT_EQ(write.exitStatus, 4);
    EXPECT_TRUE(Holds(ReadFileBytes(Path(DeviceFile)), "erase_count = 5"));
    EXPECT_EQ(ReadFileBytes(Path("run.log")), "");
    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information(std::string(32, '0'), "open", 5));
}

// A run killed while it wrote its journal: the next run applies the entries
// written whole and folds them into the device file, and starts its record
// on a line of its own.
TEST_F(SimE2eTest, KilledRunsJournalIsApplied) {
    WriteFileBytes(Path(DeviceFile), "erase_count = 1\n");
    WriteFileBytes(
        Path("ob310_sim_device.journal"),
        "erase_count = 2\n# end of request\nlocked = yes\n# end of request\nerase_count = 3\n");
    WriteFileBytes(Path(RecordFile), "0003  request 2: era");  // torn by a full disk
    EXPECT_EQ(Run(SimPath(), {"-i"}).output, Information(std::string(32, '0'), "locked", 2));
    EXPECT_EQ(ReadFileBytes(Path(RecordFile)).find("0003  request 2: era\n# run 1 of "), 0u);
    EXPECT_TRUE(Holds(ReadFileBytes(Path(DeviceFile)), "erase_count = 2"));
    EXPECT_FALSE(std::filesystem::exists(Path("ob310_sim_device.journal")));
}

// Scenarios set up in the device file before the run: the message, the exit
// status, the reports the device received and, in words, what it did with
// the last one, the simulator's own lines, and the fault lines kept.
TEST_F(SimE2eTest, DeviceFileScenarios) {
    const std::vector<std::string> info = {"-i"}, erase = {"-c", "-p", FactoryPinText};
    const std::vector<std::string> eraseVerbose = {"-c", "-p", FactoryPinText, "-v"};
    const std::string infoFailed = RedLine("Error: Can not get device information of OB310", 4);
    const std::string noDevice = RedLine("Error: No OB310 found on system", 1);
    const std::string notErased = RedLine("Error: OB310 can not erased.", 4);
    const std::string fresh = Information(std::string(32, '0'), "open", 0);
    const std::string broken = std::string("ob310_cli_sim: ob310_sim_device.txt ");
    const std::string late = "fault = request 1 reply-at-wait 17\n";
    const std::string lateAnswer = "status 00, late: at wait 17, after the tool stopped waiting";
    const std::string wrongPin = "pin = 1111111111111111\n", refused = "refused, status 01";
    const struct {
        std::string deviceLines;
        std::vector<std::string> arguments;
        std::string expectedOutput;
        int expectedStatus;
        std::size_t expectedReports;
        std::string lastAnswer;
        std::string said{};
    } scenarios[] = {
        {std::string("\xEF\xBB\xBF") + "devices = 0\r\n", info, noDevice, 1, 0, ""},
        {"devices = 3\n", info, fresh, 0, 1, "status 00"},  // the first device answers
        {"fault = request 1 reply-at-wait 16\n", info, fresh, 0, 1, "status 00, at wait 16"},
        {late, info, infoFailed, 4, 1, lateAnswer},
        {"fault = request 1 write-fails\n", info, infoFailed, 4, 1, "not taken, the write failed"},
        {"fault = request 2 write-hangs\n", erase, notErased, 4, 2, "not taken, the write hung"},
        {"fault = request 2 short 1\n", erase, notErased, 4, 2, "no status, short reply of 1 byte"},
        {"fault = request 2 short 64\n", WriteExample, RedLine("Error: Can not erase Ombrel310", 4),
         4, 2, "status 00, short reply of 64 bytes"},
        {"fault = keytable 247 no-reply\n", WriteExample,
         RedLine("Error: Fail to write keytables", 4), 4, 250, "no reply"},
        {"devices = 1\npin = 5A3C19E7B2D40F86\nfault = request 251 refuse 01\n",  // the README's
         WriteExample, RedLine("Error: Fail to write custom data", 4), 4, 251, refused},
        {"fault = request 252 short 1\n", WriteExample, "", 0, 255, "status 00"},
        // The information reply comes after the tool gave up on it: it is
        // never read as the reply of a request that follows.
        {wrongPin + late, eraseVerbose, std::string("Info: Erase Ombrel310") + Eol + notErased, 4,
         2, refused + ", short reply of 3 bytes"},
        // The query's answer comes twice: the stale copy would read as an
        // accepted erase.
        {wrongPin + "fault = request 1 reply-twice\n", erase, notErased, 4, 2,
         refused + ", short reply of 3 bytes"},
        {late + "fault = request 251 refuse 01\n", WriteExample,
         RedLine("Error: Fail to write custom data", 4), 4, 251, refused},
        {late + "fault = request 255 refuse ff\n", WriteExample,
         RedLine("Error: Fail to write debounce", 4), 4, 255, "refused, status ff"},
        // Faults of chosen runs: this run is the one after the file's runs.
        {"fault = request 1 no-reply runs 2,3\n", info, fresh, 0, 1, "status 00"},
        {"runs = 2\nfault = request 1 no-reply runs 2,3\n", info, infoFailed, 4, 1, "no reply"},
        {"runs = 5\nfault = request 1 no-reply every 3\n", info, infoFailed, 4, 1, "no reply"},
        {"runs = 6\nfault = request 1 no-reply every 3\n", info, fresh, 0, 1, "status 00"},
        {"devices = 1\ncolour = red\n", info, noDevice, 1, 0, "",
         broken + "line 2: unknown key \"colour\""},
        {"fault = request 99999999999 no-reply\n", info, noDevice, 1, 0, "",
         broken + "line 1: fault request number must be 1 to 1000000"},
        {std::string(1024 * 1024 + 1, '#'), info, noDevice, 1, 0, "",
         broken + "is larger than 1 MiB"},
    };
    CopyExample();
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.deviceLines.substr(0, 60));
        std::filesystem::remove(Path(RecordFile));
        WriteFileBytes(Path(DeviceFile), scenario.deviceLines);
        const ProcessResult result = RunSim(scenario.arguments);
        EXPECT_EQ(result.output, scenario.expectedOutput);
        EXPECT_EQ(result.errorOutput, scenario.said.empty() ? "" : scenario.said + Eol);
        EXPECT_EQ(result.exitStatus, scenario.expectedStatus);
        const std::vector<std::string> reports = LastRunReports(ReadFileBytes(Path(RecordFile)));
        EXPECT_EQ(reports.size(), scenario.expectedReports);
        const std::string last = reports.empty() ? "" : reports.back();
        EXPECT_EQ(last.substr(std::min(last.size(), last.find(" -> ") + 4)), scenario.lastAnswer);
        const std::size_t fault = scenario.deviceLines.find("fault");
        if (fault != std::string::npos) {  // the scenario outlives the run
            const std::string& lines = scenario.deviceLines;
            const std::string line = lines.substr(fault, lines.find('\n', fault) - fault);
            EXPECT_TRUE(Holds(ReadFileBytes(Path(DeviceFile)), line)) << line;
        }
    }
}

// The manual's retry example: a device that does not answer the first write
// after its file was written and then works, kept in the folder
// OB310_SIM_DIR names. The log's records say the device was simulated.
TEST_F(SimE2eTest, RetryAgainstADeviceThatFailsOnce) {
    const std::filesystem::path device = Path("device");
    std::filesystem::create_directory(device);
    WriteFileBytes(device / DeviceFile, "fault = request 3 no-reply runs 1\n");
    CopyExample();
    const SimFolder folder(device.string());
    const ProcessResult first = Run(SimPath(), WriteAndLog);
    EXPECT_EQ(first.output, RedLine("Error: Fail to write keytables", 4));
    EXPECT_EQ(first.exitStatus, 4);
    const ProcessResult retry = Run(SimPath(), WriteAndLog);
    EXPECT_EQ(retry.output, "");
    EXPECT_EQ(retry.exitStatus, 0);
    EXPECT_EQ(Run(SimPath(), {"-c", "-p", FactoryPinText, "-l", "station.log"}).exitStatus, 0);
    EXPECT_EQ(
        LogRecords(ReadFileBytes(Path("station.log"))),
        (std::vector<std::string>{
            "CMD=write;STATE=success;SN=00000000;REV=1026;FILE=example.ob310;DEVICE=simulated;\r",
            "CMD=erase;STATE=success;SN=00000000;REV=1026;DEVICE=simulated;\r"}));
    const std::string record = ReadFileBytes(device / RecordFile);
    EXPECT_NE(record.find("  request 3: keytable 0, PIN 5A3C19E7B2D40F86 -> no reply\n# run 2 of "),
              std::string::npos);
    EXPECT_NE(record.find("  request 3: keytable 0, PIN 5A3C19E7B2D40F86 -> status 00\n"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Path(DeviceFile)) ||
                 std::filesystem::exists(Path(RecordFile)));
}

// Runs of one device started at the same moment take turns: each finds the
// device as the one before left it, and the record holds each run whole.
TEST_F(SimE2eTest, ConcurrentRunsTakeTurns) {
    CopyExample();
    for (const ProcessResult& run : RunProcesses(
             SimPath(), {WriteAndLog, WriteAndLog, WriteAndLog, WriteAndLog}, workDir.string())) {
        EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
    }
    EXPECT_EQ(Run(SimPath(), {"-i"}).output,
              Information("4f42333130206578616d706c65203031", "open", 4));
    EXPECT_EQ(LogRecords(ReadFileBytes(Path("station.log"))).size(), 4u);
    // Each run's marker, then the number of each report it took.
    std::string expected;
    for (int run = 1; run <= 5; ++run) {
        expected += "# run " + std::to_string(run) + "\n";
        for (int request = 1; request <= (run < 5 ? 255 : 1); ++request)
            expected += std::to_string(request) + "\n";
    }
    const std::regex marksAndNumbers("(# run \\d+) of .*|.*  request (\\d+):.*");
    EXPECT_EQ(std::regex_replace(ReadFileBytes(Path(RecordFile)), marksAndNumbers, "$1$2"),
              expected);
}

}  // namespace
