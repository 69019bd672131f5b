#include "output/messages.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "output/console.h"
#include "output/settings.h"
#include "tests/support/temp_dir.h"

namespace {

// Every test leaves the process-wide switches and the log as a run finds them.
class MessagesTest : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        settings = Settings{};
        logFile.Reset();
    }

    TempDir dir;
    ConsoleCapture console;
};

struct ErrorLineCase {
    const char* text;
    std::uint16_t code;
    const char* line;
};

const ErrorLineCase ErrorLineCases[] = {
    {"Error: No OB310 found on system", 1,
     "\x1b[31mError: No OB310 found on system. Code=0x0001\x1b[0m\n"},
    {"Error: No logfile selected", 16, "\x1b[31mError: No logfile selected. Code=0x0010\x1b[0m\n"},
    {"PIN code is not given, incorrect (only hex values) or out of range (16 characters required).", 64,
     "\x1b[31mPIN code is not given, incorrect (only hex values) or out of range "
     "(16 characters required).. Code=0x0040\x1b[0m\n"},
    {"Error in .ob310 file.", 256, "\x1b[31mError in .ob310 file.. Code=0x0100\x1b[0m\n"},
    {"x", 0xABCD, "\x1b[31mx. Code=0xabcd\x1b[0m\n"},
    {"", 0, "\x1b[31m. Code=0x0000\x1b[0m\n"},
};

TEST_F(MessagesTest, ErrorLineIsRedWithFourLowerCaseDigitsVerboseOrNot) {
    for (bool verbose : {false, true}) {
        for (const ErrorLineCase& c : ErrorLineCases) {
            settings.verboseMode = verbose;
            console.Clear();
            PrintError(c.text, c.code);
            EXPECT_EQ(console.Text(), c.line) << "verbose " << verbose;
        }
    }
}

TEST_F(MessagesTest, VerboseLineOnlyInVerboseModeWithCodeZero) {
    PrintVerbose("Success: Write complete");
    EXPECT_EQ(console.Text(), "");
    settings.verboseMode = true;
    PrintVerbose("Success: Write complete");
    EXPECT_EQ(console.Text(), "Success: Write complete. Code=0x0000\n");
}

struct StampCase {
    std::tm local;
    const char* stamp;
};

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return t;
}

// The moments are built from local time, so the expected texts hold in every
// time zone (none lies near a daylight-saving change).
TEST(LogTimeStamp, DayMonthYearAnd24HourClockWithLeadingZeros) {
    const StampCase cases[] = {
        {LocalTime(2026, 12, 5, 16, 20, 49), "05.12.2026 16:20:49"},
        {LocalTime(2027, 1, 9, 0, 0, 0), "09.01.2027 00:00:00"},
        {LocalTime(2025, 7, 31, 23, 59, 59), "31.07.2025 23:59:59"},
        {LocalTime(2024, 2, 29, 8, 5, 3), "29.02.2024 08:05:03"},
    };
    for (StampCase c : cases) {
        const std::time_t when = std::mktime(&c.local);
        ASSERT_NE(when, static_cast<std::time_t>(-1));
        EXPECT_EQ(FormatLogTimeStamp(when), c.stamp);
    }
}

TEST_F(MessagesTest, LogLineIsTimeStampColonTextAndCrLf) {
    const std::string log = dir.File("run.log");
    settings.logRequested = true;
    ASSERT_TRUE(logFile.LogfileOpen(log));
    const std::time_t before = std::time(nullptr);
    EXPECT_TRUE(WriteLogLine("CMD=erase;STATE=success;SN=00B31001;REV=1026;"));
    const std::time_t after = std::time(nullptr);

    // Read while the log is still open: others may share it.
    const std::string content = ReadFileBytes(log);
    const std::string text = ": CMD=erase;STATE=success;SN=00B31001;REV=1026;\r\n";
    EXPECT_TRUE(content == FormatLogTimeStamp(before) + text || content == FormatLogTimeStamp(after) + text)
        << content;
    EXPECT_EQ(content.size(), 19 + text.size());
}

struct SkippedLineCase {
    const char* name;
    bool logRequested;
    bool open;
    std::string text;
};

// Lines that are not due: nothing is written, and nothing counts as lost.
TEST_F(MessagesTest, LogLineNotDueWritesNothing) {
    const SkippedLineCase cases[] = {
        {"logging off", false, true, "CMD=erase;"},
        {"empty text", true, true, ""},
        {"log never opened", true, false, "CMD=erase;"},
    };
    const std::string log = dir.File("skip.log");
    for (const SkippedLineCase& c : cases) {
        logFile.Reset();
        settings.logRequested = c.logRequested;
        if (c.open) {
            ASSERT_TRUE(logFile.LogfileOpen(log));
        }
        EXPECT_TRUE(WriteLogLine(c.text)) << c.name;
        EXPECT_EQ(ReadFileBytes(log), "") << c.name;
    }
    EXPECT_EQ(console.Text(), "");
}

// A line that is due but cannot reach the file is reported, never dropped
// silently.
TEST_F(MessagesTest, LostLogLineIsReported) {
    settings.logRequested = true;

    ASSERT_TRUE(logFile.LogfileOpen(dir.File("missing_folder/run.log")));
    EXPECT_TRUE(logFile.IsOpen());
    EXPECT_FALSE(logFile.IsUsable());
    EXPECT_FALSE(WriteLogLine("CMD=write;"));

    ASSERT_TRUE(logFile.LogfileOpen(dir.File("closed.log")));
    logFile.Close();
    EXPECT_FALSE(WriteLogLine("CMD=write;"));
    EXPECT_EQ(ReadFileBytes(dir.File("closed.log")), "");
    EXPECT_EQ(console.Text(), "");
}

TEST_F(MessagesTest, TwoRunsAppendAfterEarlierContent) {
    const std::string log = dir.File("append.log");
    WriteFileBytes(log, "earlier text\r\n");
    settings.logRequested = true;
    for (const char* record : {"first", "second"}) {
        ASSERT_TRUE(logFile.LogfileOpen(log));
        ASSERT_TRUE(WriteLogLine(record));
        logFile.Reset();
    }
    const std::string content = ReadFileBytes(log);
    ASSERT_EQ(content.size(), 14 + 2 * (19 + 2 + 2) + 5 + 6) << content;
    EXPECT_EQ(content.substr(0, 14), "earlier text\r\n");
    EXPECT_EQ(content.substr(14 + 19, 9), ": first\r\n");
    EXPECT_EQ(content.substr(14 + 19 + 9 + 19), ": second\r\n");
}

TEST_F(MessagesTest, EmptyLogNameIsRefusedAloudAndChangesNothing) {
    const std::string log = dir.File("kept.log");
    ASSERT_TRUE(logFile.LogfileOpen(log));
    EXPECT_FALSE(logFile.LogfileOpen(""));
    EXPECT_EQ(console.Text(), "\x1b[0;31mError: LogfileOpen - No filename specified.\x1b[0m\n");
    EXPECT_EQ(logFile.fileName, log);
    EXPECT_TRUE(logFile.IsUsable());
}

}  // namespace
