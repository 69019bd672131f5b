#include "cli/entry.h"

#include <gtest/gtest.h>

#include "tests/support/sim_run.h"

namespace ob310 {
namespace {

const std::string Pin1 = "5a3c19e7b2d40f86", Pin2 = "0123456789ABCDEF";
const Pin Pin2Bytes = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

const std::string Help = "\nExample: ob310_cli.exe -f";  // the start of the help text
const std::string PinError = RedLine(
    "PIN code is not given, incorrect (only hex values) or out of range (16 characters required).",
    64);
const std::string NoLog = RedLine("Error: No logfile selected", 16);
const std::string LogNotOpened = RedLine("Error: Can not open logfile", 16);
const std::string NoDevice = RedLine("Error: No OB310 found on system", 1);

class EntryTest : public testing::Test {
protected:
    // "<name>" stands for a file of the test's folder, "<bad>" for one in a
    // folder that does not exist.
    int Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "ob310_cli");
        std::vector<const char*> argv;
        for (std::string& a : arguments) {
            if (a.size() > 2 && a.front() == '<')
                a = dir.File(a == "<bad>" ? "no/run.log" : a.substr(1, a.size() - 2));
            argv.push_back(a.c_str());
        }
        console.Clear();
        context.emplace(hid, console);  // each run from a fresh context, kept to look at
        return RunCommandLine(static_cast<int>(argv.size()), argv.data(), *context);
    }

    TempDir dir;
    SimHidLayer hid;  // no device attached: a run that looks for one says so
    ConsoleCapture console;
    std::optional<RunContext> context;
};

TEST_F(EntryTest, ExitCodeOutputAndFlowOfEachCommandLine) {
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string output;
    } cases[] = {
        {{}, 16, Help},
        {{"-h"}, 0, Help},
        {{"-i", "-c", "-f", "<t.ob310>", "-p", "bad", "-h"}, 0, Help},
        {{"-l", "-h"}, 0, Help},
        {{"-h", "-l", "<bad>"}, 0, Help},
        {{"-help"}, 64, PinError},
        {{"-H"}, 64, PinError},
        {{"-p", Pin1}, 0, ""},
        {{"-v", "-p", Pin2}, 0, ""},
        {{"stray"}, 64, PinError},
        {{"-p", "5a3c19e7b2d40f8"}, 64, PinError},
        {{"-p", "5a3c19e7b2d40f861"}, 64, PinError},
        {{"-p", "5a3c19e7b2d40f8g"}, 64, PinError},
        {{"-c"}, 64, PinError},
        {{"-i", "-f", "<t.ob310>"}, 64, PinError},
        {{"-p", Pin1, "-l"}, 16, NoLog},
        {{"-l", "x", "-p", Pin1}, 16, NoLog},
        {{"-p", "bad", "-l"}, 16, NoLog},
        {{"-i", "-l"}, 16, NoLog},
        {{"-l", "<run.log>", "-l", "-p", Pin1}, 0, ""},
        {{"-l", "<bad>"}, 16, LogNotOpened},
        {{"-i", "-l", "<bad>"}, 16, LogNotOpened},
        {{"-l", "<bad>", "-l", "<other.log>", "-p", Pin1}, 0, ""},
        {{"-l", "<run.log>", "-l", "<bad>", "-p", Pin1}, 16, LogNotOpened},
        // The record would land in the configuration: refused before the device.
        {{"-f", "<s.ob310>", "-p", Pin1, "-l", "<s.ob310>"}, 16, LogNotOpened},
        {{"-c", "-f", "<s.ob310>", "-p", Pin1, "-l", "<./s.ob310>"}, 16, LogNotOpened},
        // An unrecognised dash argument is still the option a value belongs to.
        {{"-x", "-p", Pin1}, 0, ""},
        {{"-p", "-x", Pin1}, 64, PinError},
        {{"-p", "--", Pin1}, 64, PinError},
        {{"-p", "-", Pin1}, 64, PinError},
        {{"-p", "-v", Pin1}, 64, PinError},
        {{"-l", "-x", "<run.log>", "-p", Pin1}, 16, NoLog},
        // Flow selection, seen through the flows with no device attached.
        {{"-i"}, 1, NoDevice},
        {{"-i", "-c"}, 1, NoDevice},
        {{"-c", "-p", Pin1}, 1, NoDevice},
        {{"-c", "-f", "<t.ob310>", "-p", Pin1}, 1, NoDevice},
        {{"-i", "-f", "<t.ob310>", "-p", Pin1}, 8, RedLine("Error: No file to programm", 8)},
        {{"-i", "-f", "-p", Pin1}, 8, RedLine("Error: No ob310 file selected", 8)},
        {{"-f", "x", "-p", Pin1}, 8, RedLine("Error: No ob310 file selected", 8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(Run(c.arguments), c.exitCode);
        const std::string output = console.Text();
        EXPECT_EQ(c.output == Help ? output.substr(0, Help.size()) : output, c.output);
    }
}

TEST_F(EntryTest, LastValueOfAnOptionWins) {
    const std::pair<std::vector<std::string>, Pin> pins[] = {
        {{"-p", Pin1, "-p", Pin2}, Pin2Bytes},
        {{"-p", Pin1, Pin2}, Pin2Bytes},
        {{"-p", Pin2, "-p", "0011223344556x77"}, Pin2Bytes},
        {{"-p", "00112233445566zz", "-p", Pin1}, FactoryDefaultPin},
    };
    for (const auto& [arguments, pin] : pins) {
        EXPECT_EQ(Run(arguments), 0);
        EXPECT_EQ(context->workingPin, pin);
    }
    EXPECT_EQ(Run({"-f", "first.ob310", "second.ob310", "x", "-l", "<a.log>", "<b.log>", "-h"}), 0);
    EXPECT_EQ(context->settings.configFileName, "second.ob310");
    EXPECT_TRUE(WriteLogLine(context->logFile, true, "CMD=erase;STATE=success;;"));
    EXPECT_EQ(ReadFileBytes(dir.File("a.log")), "");
    EXPECT_EQ(ReadFileBytes(dir.File("b.log")).substr(19), ": CMD=erase;STATE=success;;\r\n");
}

}  // namespace
}  // namespace ob310
