// The command line of both executables, on paths that need no device (or
// find none): exact console bytes and exit statuses as a script sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "tests/e2e/e2e_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct CommandCase {
    const char* name;
    std::vector<std::string> arguments;
    int dataLines;  // > 0: write a configuration of that many data lines as table.ob310
    std::string expectedOutput;
    int expectedStatus;
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

const std::string PinError =
    "PIN code is not given, incorrect (only hex values) or out of range (16 characters required).";

std::vector<CommandCase> CommandCases() {
    return {
        {"NoArguments", {}, 0, HelpText(), 16},
        {"Help", {"-h"}, 0, HelpText(), 0},
        {"HelpWinsOverEverything", {"-i", "-c", "-l", "-h"}, 0, HelpText(), 0},
        {"LogWithoutName", {"-p", FactoryPinText, "-l"}, 0, RedLine("Error: No logfile selected", 16), 16},
        {"LogNameTooShort", {"-l", "x", "-c"}, 0, RedLine("Error: No logfile selected", 16), 16},
        {"PinAloneDoesNothing", {"-p", FactoryPinText}, 0, "", 0},
        {"EraseWithoutPin", {"-c"}, 0, RedLine(PinError, 64), 64},
        {"PinOneDigitShort", {"-c", "-p", "5A3C19E7B2D40F8"}, 0, RedLine(PinError, 64), 64},
        {"PinNotHex", {"-c", "-p", "5A3C19E7B2D40F8G"}, 0, RedLine(PinError, 64), 64},
        {"FileWithoutName", {"-p", FactoryPinText, "-f"}, 0,
         RedLine("Error: No ob310 file selected", 8), 8},
        {"FileMissing", {"-p", FactoryPinText, "-f", "missing.ob310"}, 0,
         RedLine("Error: No file to programm", 8), 8},
        {"FileTooFewLines", {"-p", FactoryPinText, "-f", "table.ob310"}, 254,
         RedLine("Error in .ob310 file.", 256) + RedLine("Error: File content not correct", 256),
         ContentErrorStatus},
        {"FileWithoutDebounceLine", {"-p", FactoryPinText, "-f", "table.ob310"}, 255,
         RedLine("Error: File content not correct", 256), ContentErrorStatus},
    };
}

struct ProgramCase {
    const char* name;
    std::string (*path)();
};
void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class CommandLineE2eTest : public E2eTest,
                           public testing::WithParamInterface<std::tuple<ProgramCase, CommandCase>> {};

TEST_P(CommandLineE2eTest, PrintsExactBytesAndExitsWithItsStatus) {
    const auto& [program, command] = GetParam();
    if (command.dataLines > 0) WriteFileBytes(Path("table.ob310"), ConfigText(command.dataLines));
    const ProcessResult result = Run(program.path(), command.arguments);
    EXPECT_EQ(result.output, command.expectedOutput);
    EXPECT_EQ(result.exitStatus, command.expectedStatus);
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, CommandLineE2eTest,
    testing::Combine(testing::Values(ProgramCase{"ob310_cli", CliPath},
                                     ProgramCase{"ob310_cli_sim", SimPath}),
                     testing::ValuesIn(CommandCases())),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// A log file named on a failing run is created (the log opens while the
// arguments are read) but never gets a line.
TEST_F(E2eTest, FailedRunCreatesTheLogFileEmpty) {
    const ProcessResult result = Run(CliPath(), {"-l", "run.log", "-c"});
    EXPECT_EQ(result.exitStatus, 64);
    ASSERT_TRUE(std::filesystem::exists(Path("run.log")));
    EXPECT_EQ(ReadFileBytes(Path("run.log")), "");
}

// No OB310 is attached to the machine that runs the tests: the platform HID
// layer (hidraw, or Wine's hid.dll with its own virtual mouse and keyboard)
// finds none.
struct NoDeviceCase {
    const char* name;
    std::vector<std::string> arguments;
};
void PrintTo(const NoDeviceCase& c, std::ostream* os) { *os << c.name; }

class NoDeviceE2eTest : public E2eTest, public testing::WithParamInterface<NoDeviceCase> {};

TEST_P(NoDeviceE2eTest, ReportsNoOb310AndExits1) {
    CopyExample();
    const ProcessResult result = Run(CliPath(), GetParam().arguments);
    EXPECT_EQ(result.output, RedLine("Error: No OB310 found on system", 1));
    EXPECT_EQ(result.exitStatus, 1);
}

INSTANTIATE_TEST_SUITE_P(
    PlatformLayer, NoDeviceE2eTest,
    testing::Values(NoDeviceCase{"Information", {"-i"}},
                    NoDeviceCase{"Erase", {"-c", "-p", FactoryPinText}},
                    NoDeviceCase{"Write", {"-f", "example.ob310", "-p", FactoryPinText, "-v"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A reader that has gone (| head -n 1, grep -q) costs the output, never the
// run: the same exit status, and a successful write still logs its record.
TEST_F(E2eTest, ClosedOutputLosesOnlyTheOutput) {
    CopyExample();
    const struct {
        std::string program;
        std::vector<std::string> arguments;
        int status;
    } cases[] = {{CliPath(), {}, 16},
                 {CliPath(), {"-c"}, 64},
                 {SimPath(), {"-f", "example.ob310", "-p", FactoryPinText, "-l", "p.log", "-v"}, 0}};
    for (const auto& c : cases) EXPECT_EQ(Run(c.program, c.arguments, true).exitStatus, c.status);
    EXPECT_TRUE(std::regex_match(ReadFileBytes(Path("p.log")), std::regex(".{19}: CMD=write;[^\n]*FILE=example\\.ob310;\r\n")));
}

// Names reach the system and the log as UTF-8 text on every platform.
TEST_F(E2eTest, NamesInAnyLanguage) {
#ifdef _WIN32
    const std::string LogInFolder = "Папка\\x.log";
#else
    const std::string LogInFolder = "Папка/x.log";
#endif
    std::filesystem::create_directory(Path("Папка"));
    for (const std::string name : {"日本語.ob310", "Grüße.ob310"}) {
        CopyExample(name);
        const ProcessResult run = Run(SimPath(), {"-f", name, "-p", FactoryPinText, "-l", LogInFolder});
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(run.exitStatus, 0) << name;
    }
    EXPECT_TRUE(std::regex_match(ReadFileBytes(Path("Папка/x.log")),
                                 std::regex(".{19}: [^\n]*FILE=日本語\\.ob310;\r\n.{19}: [^\n]*FILE=Grüße\\.ob310;\r\n")));
}

#ifndef _WIN32
// One run, one log line: control bytes of a name cannot forge lines or
// terminal escapes in the record; the file is still opened by its real name.
TEST_F(E2eTest, ControlBytesOfANameAreEscapedInTheRecord) {
    CopyExample("a\r\n01.01.2026 00:00:00: CMD=write;\x1b[2J\x7f.ob310");
    EXPECT_EQ(Run(SimPath(), {"-f", "a\r\n01.01.2026 00:00:00: CMD=write;\x1b[2J\x7f.ob310", "-p", FactoryPinText,
                              "-l", "r.log"}).exitStatus, 0);
    const std::string log = ReadFileBytes(Path("r.log"));
    EXPECT_EQ(log.substr(19), ": CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=a\\x0D\\x0A01.01.2026 00:00:00: "
                              "CMD=write;\\x1B[2J\\x7F.ob310;\r\n");
}
#endif

// Stations sharing one log: each line goes to the end of the file whole.
TEST_F(E2eTest, FourStationsAppendingAtOnceLoseNoLine) {
    std::vector<std::vector<std::string>> stations;
    std::vector<std::string> expected;
    for (const char* tag : {"A", "B", "C", "D"}) {
        stations.push_back({"shared.log", tag, "300"});
        for (int i = 0; i < 300; ++i) expected.push_back(std::string(tag) + " " + std::to_string(i));
    }
    for (const ProcessResult& r : RunProcesses(NativePath(OB310_LOG_APPEND_PATH), stations, workDir.string())) {
        EXPECT_EQ(r.exitStatus, 0);
    }
    std::istringstream log(ReadFileBytes(Path("shared.log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        ASSERT_TRUE(line.size() > 21 && line.substr(19, 2) == ": " && line.back() == '\r') << line;
        lines.push_back(line.substr(21, line.size() - 22));
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

#ifdef _WIN32
// The manifest (UTF-8 code page, long paths, supported versions) is in both
// programs; the tool does not rely on it, but Windows reads it at start.
TEST_F(E2eTest, ProgramsCarryTheManifest) {
    for (const std::string& program : {CliPath(), SimPath()}) {
        const HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_NE(resource, nullptr) << program;
        const std::string text(static_cast<const char*>(LockResource(LoadResource(module, resource))),
                               SizeofResource(module, resource));
        for (const char* part : {">UTF-8</activeCodePage>", ">true</longPathAware>", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                                 "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
            EXPECT_NE(text.find(part), std::string::npos) << program << " " << part;
        }
        FreeLibrary(module);
    }
}
#endif

}  // namespace
