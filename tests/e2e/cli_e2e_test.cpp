// Both executables as a script runs them: exact console bytes, exit statuses and the files they
// leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "tests/e2e/e2e_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

struct CommandCase {
    std::vector<std::string> arguments;
    int dataLines;  // > 0: write a configuration of that many data lines as table.ob310
    std::string output;
    int status;
    // No OB310 is attached where the tests run: hidraw, or Wine's hid.dll, finds none.
    bool cliOnly = false;
};

TEST_F(E2eTest, BothProgramsPrintExactBytesAndExitWithTheirStatus) {
    const std::string pin = FactoryPinText;
    const std::string contentError = RedLine("Error: File content not correct", 256);
    const std::string fileError = RedLine("Error in .ob310 file.", 256) + contentError;
    const std::string noDevice = RedLine("Error: No OB310 found on system", 1);
    const std::string pinError = RedLine(
        "PIN code is not given, incorrect (only hex values) or "
        "out of range (16 characters required).",
        64);
    const CommandCase cases[] = {
        {{}, 0, HelpText(), 16},
        {{"-i", "-c", "-l", "-h"}, 0, HelpText(), 0},
        {{"-p", pin}, 0, "", 0},
        {{"-p", pin, "-l"}, 0, RedLine("Error: No logfile selected", 16), 16},
        {{"-c", "-p", "5A3C19E7B2D40F8G"}, 0, pinError, 64},
        {{"-p", pin, "-f"}, 0, RedLine("Error: No ob310 file selected", 8), 8},
        {{"-p", pin, "-f", "missing.ob310"}, 0, RedLine("Error: No file to programm", 8), 8},
        {{"-p", pin, "-f", "table.ob310"}, 254, fileError, ContentErrorStatus},
        {{"-p", pin, "-f", "table.ob310", "-l", "run.log"}, 255, contentError, ContentErrorStatus},
#ifndef _WIN32
        // No open waits for a peer: a FIFO that nobody reads is a log that
        // cannot be opened, and one that nobody writes an empty configuration.
        {{"-h", "-l", "fifo"}, 0, HelpText(), 0},
        {{"-c", "-p", pin, "-l", "fifo"}, 0, RedLine("Error: Can not open logfile", 16), 16},
        {{"-p", pin, "-f", "fifo"}, 0, fileError, ContentErrorStatus},
#endif
        {{"-i"}, 0, noDevice, 1, true},
        {{"-c", "-p", pin}, 0, noDevice, 1, true},
        {{"-f", "table.ob310", "-p", pin, "-v"}, 256, noDevice, 1, true},
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
#endif
    for (const std::string& program : {CliPath(), SimPath()}) {
        for (const CommandCase& c : cases) {
            if (c.cliOnly && program == SimPath())
                continue;
            if (c.dataLines > 0)
                WriteFileBytes(Path("table.ob310"), ConfigText(c.dataLines));
            const ProcessResult result = Run(program, c.arguments);
            EXPECT_EQ(result.output, c.output) << program << " " << c.arguments.size();
            EXPECT_EQ(result.exitStatus, c.status) << program << " " << c.arguments.size();
        }
    }
    // The failed run created its log while reading the arguments, and left it empty.
    EXPECT_TRUE(std::filesystem::exists(Path("run.log")) && ReadFileBytes(Path("run.log")).empty());
}

// A reader that has gone (| head -n 1, grep -q), or a standard output closed
// outright (>&-), costs the output, never the exit status: a successful
// write still logs its record, and nothing but records reaches the log.
TEST_F(E2eTest, ClosedOutputLosesOnlyTheOutput) {
    CopyExample();
    EXPECT_EQ(Run(CliPath(), {}, ChildOutput::ReaderGone).exitStatus, 16);
#ifdef _WIN32
    const ChildOutput outputs[] = {ChildOutput::ReaderGone};
#else
    const ChildOutput outputs[] = {ChildOutput::ReaderGone, ChildOutput::Closed};
#endif
    for (const ChildOutput output : outputs) {
        std::filesystem::remove(Path("p.log"));
        EXPECT_EQ(Run(CliPath(), {"-h", "-l", "p.log"}, output).exitStatus, 0);
        EXPECT_EQ(Run(CliPath(), {"-c", "-l", "p.log"}, output).exitStatus, 64);
        EXPECT_EQ(Run(CliPath(), {"-c", "-p", FactoryPinText, "-l", "p.log"}, output).exitStatus,
                  1);
        EXPECT_EQ(Run(SimPath(), {"-f", "example.ob310", "-p", FactoryPinText, "-l", "p.log", "-v"},
                      output)
                      .exitStatus,
                  0);
        EXPECT_TRUE(std::regex_match(
            ReadFileBytes(Path("p.log")),
            std::regex(".{19}: CMD=write;[^\n]*FILE=example\\.ob310;DEVICE=simulated;\r\n")));
    }
}

// Names reach the system and the log as UTF-8 on every platform, and the
// control bytes of a name cannot forge a line or a terminal escape there.
TEST_F(E2eTest, NamesReachTheLogAsUtf8WithControlBytesEscaped) {
    const std::string separator(1, static_cast<char>(std::filesystem::path::preferred_separator));
    std::filesystem::create_directory(Path("Папка"));
    std::vector<std::pair<std::string, std::string>> names = {{"日本語.ob310", "日本語.ob310"},
                                                              {"Grüße.ob310", "Grüße.ob310"}};
#ifndef _WIN32
    names.emplace_back("a\r\n01.01.2026 00:00:00: CMD=write;\x1b[2J\x1f\x7f.ob310",
                       "a\\x0D\\x0A01.01.2026 00:00:00: CMD=write\\x3B\\x1B[2J\\x1F\\x7F.ob310");
#endif
    std::vector<std::string> records;
    for (const auto& [name, inRecord] : names) {
        CopyExample(name);
        const ProcessResult run =
            Run(SimPath(), {"-f", name, "-p", FactoryPinText, "-l", "Папка" + separator + "x.log"});
        EXPECT_EQ(run.output + std::to_string(run.exitStatus), "0") << name;
        records.push_back("CMD=write;STATE=success;SN=00000000;REV=1026;FILE=" + inRecord +
                          ";DEVICE=simulated;\r");
    }
    EXPECT_EQ(LogRecords(ReadFileBytes(Path("Папка/x.log"))), records);
}

// Stations sharing one log: each line goes to the end of the file whole.
TEST_F(E2eTest, FourStationsAppendingAtOnceLoseNoLine) {
    std::vector<std::vector<std::string>> stations;
    std::vector<std::string> expected;
    for (const char* tag : {"A", "B", "C", "D"}) {
        stations.push_back({"shared.log", tag, "3000"});
        for (int i = 0; i < 3000; ++i)
            expected.push_back(std::string(tag) + " " + std::to_string(i) + "\r");
    }
    for (const ProcessResult& r :
         RunProcesses(NativePath(OB310_LOG_APPEND_PATH), stations, workDir.string())) {
        EXPECT_EQ(r.exitStatus, 0);
    }
    std::vector<std::string> lines = LogRecords(ReadFileBytes(Path("shared.log")));
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

// Another process's lock on the log is seen: a line that may not wait for it
// (lock wait 0) fails and writes nothing. (The wait's bound is timed on a
// virtual clock in the unit tests.)
TEST_F(E2eTest, ALockHeldTooLongFailsTheLine) {
    const std::string log = (workDir / "held.log").string();
    const std::vector<ProcessResult> results = RunProcesses(
        NativePath(OB310_LOG_APPEND_PATH), {{log, "hold"}, {log, "W", "1", "0"}}, workDir.string());
    EXPECT_EQ(results[0].exitStatus, 0);
    EXPECT_EQ(results[1].exitStatus, 1);
    EXPECT_EQ(ReadFileBytes(log), "");
}

#ifdef _WIN32
// The manifest is in both programs (the tool does not rely on it; Windows reads it at start).
TEST_F(E2eTest, ProgramsCarryTheManifest) {
    for (const std::string& program : {CliPath(), SimPath()}) {
        const HMODULE module =
            LoadLibraryExW(Path(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_NE(found, nullptr) << program;
        const std::string text(static_cast<const char*>(LockResource(LoadResource(module, found))),
                               SizeofResource(module, found));
        for (const char* part : {">UTF-8</activeCodePage>", ">true</longPathAware>",
                                 "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}) {
            EXPECT_NE(text.find(part), std::string::npos) << program << " " << part;
        }
    }
}
#endif

}  // namespace
