// The command line of both executables, on paths that need no device (or
// find none): exact console bytes and exit statuses as a script sees them.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

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

}  // namespace
