#include "output/messages.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ob310 {
namespace {
TEST(Messages, ErrorLinesAlwaysVerboseLinesOnlyInVerboseModeAndTimeStamps) {
    ConsoleCapture console;
    for (bool verbose : {false, true}) {
        PrintError(console, "x", 0xABCD);
        PrintVerbose(console, verbose, "Success: Write complete");
    }
    EXPECT_EQ(console.Text(),
              "\x1b[31mx. Code=0xabcd\x1b[0m\n\x1b[31mx. Code=0xabcd\x1b[0m\nSuccess: Write "
              "complete. Code=0x0000\n");
    std::tm local{};  // the log's time stamp: day, month, year, 24-hour clock
    local.tm_year = 2027 - 1900, local.tm_mday = 9, local.tm_hour = 18, local.tm_min = 5,
    local.tm_isdst = -1;
    EXPECT_EQ(FormatLogTimeStamp(std::mktime(&local)), "09.01.2027 18:05:00");
}

// Due lines are appended after earlier content as stamp ": " text CR LF;
// lines not due write nothing; a lost line is reported.
TEST(Messages, LogFileAppendsDueLinesAndReportsLostOnes) {
    TempDir dir;
    WriteFileBytes(dir.File("run.log"), "earlier\r\n");
    ConsoleCapture console;
    CLogFile logFile, missing;
    EXPECT_TRUE(WriteLogLine(logFile, true, "never opened"));
    ASSERT_TRUE(logFile.LogfileOpen(dir.File("run.log"), console));
#ifdef _WIN32
    // Not shared for deleting: the record cannot go with the file while a run has it open.
    EXPECT_FALSE(DeleteFileW(dir.Path().wstring().append(L"\\run.log").c_str()));
#endif
    EXPECT_FALSE(logFile.LogfileOpen("", console));
    EXPECT_EQ(console.Text(), "\x1b[0;31mError: LogfileOpen - No filename specified.\x1b[0m\n");
    EXPECT_TRUE(WriteLogLine(logFile, true, ""));
    const std::string stamp = FormatLogTimeStamp(std::time(nullptr));
    EXPECT_TRUE(WriteLogLine(logFile, true, "CMD=erase;STATE=success;;"));
    EXPECT_TRUE(WriteLogLine(logFile, false, "logging off"));
    const std::string log = ReadFileBytes(dir.File("run.log"));
    EXPECT_EQ(log.substr(0, 20) + log.substr(28),
              std::string("earlier\r\n") + stamp.substr(0, 11) + ": CMD=erase;STATE=success;;\r\n");
    ASSERT_TRUE(missing.LogfileOpen(dir.File("missing_folder/run.log"), console));
    EXPECT_FALSE(WriteLogLine(missing, true, "CMD=write;"));
}

std::size_t spaceLeft = 0;

// A disk with `spaceLeft` bytes free: it takes what fits, as a full disk takes
// a part of a write before it fails.
std::size_t FullDiskWrite(std::intptr_t file, const char* data, std::size_t size) {
    const std::size_t taken = SystemLogWrite(file, data, std::min(size, spaceLeft));
    spaceLeft -= taken;
    return taken;
}

// A line the disk takes only in part leaves nothing behind that the next
// station's line could join; a whole line counts.
TEST(Messages, LineThatDoesNotFitLeavesNoFragment) {
    TempDir dir;
    ConsoleCapture console;
    const std::string record = "CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=t.ob310;";
    const std::size_t lineSize = 21 + record.size() + 2;
    for (const std::size_t space : {std::size_t{0}, std::size_t{40}, lineSize - 1, lineSize}) {
        WriteFileBytes(dir.File("run.log"), "earlier\r\n");
        {
            CLogFile logFile;
            ASSERT_TRUE(logFile.LogfileOpen(dir.File("run.log"), console));
            logFile.writeCall = FullDiskWrite;
            spaceLeft = space;
            EXPECT_EQ(WriteLogLine(logFile, true, record), space == lineSize) << space;
        }
        const std::string log = ReadFileBytes(dir.File("run.log"));
        EXPECT_EQ(log.size() > 9 ? log.substr(0, 9) + log.substr(28) : log,
                  "earlier\r\n" + (space == lineSize ? ": " + record + "\r\n" : ""))
            << space;
    }
}

std::chrono::milliseconds virtualTime{0}, lockFreeAt{0};  // when the other station lets go
LogLockResult lockThen = LogLockResult::Taken;
std::vector<std::int64_t> attemptsAt;

LogLockResult HeldLock(std::intptr_t) {
    attemptsAt.push_back(virtualTime.count());
    return virtualTime < lockFreeAt ? LogLockResult::Busy : lockThen;
}
std::chrono::steady_clock::time_point VirtualNow() {
    return std::chrono::steady_clock::time_point(virtualTime);
}
void VirtualSleep(std::chrono::milliseconds time) { virtualTime += time; }

// A lock another station holds is tried again every 10 ms, for at most the
// lock wait (5000 ms unless set): then the line fails rather than wait on.
TEST(Messages, LineWaitsForAnotherStationsLockAtMostTheLockWait) {
    TempDir dir;
    ConsoleCapture console;
    const std::tuple<int, int, LogLockResult, bool, int> cases[] = {
        // lock wait, lock free at (ms), then, written, attempts
        {LogLockWaitMs, 1 << 30, LogLockResult::Taken, false, 501},
        {0, 1 << 30, LogLockResult::Taken, false, 1},
        {LogLockWaitMs, 30, LogLockResult::Taken, true, 4},
        // No locks there: written unlocked.
        {LogLockWaitMs, 0, LogLockResult::Unsupported, true, 1},
    };
    for (const auto& [wait, freeAt, then, written, attempts] : cases) {
        CLogFile logFile;
        ASSERT_TRUE(logFile.LogfileOpen(dir.File("run.log"), console));
        if (wait != LogLockWaitMs)
            logFile.lockWaitMs = wait;
        logFile.lockCalls = {HeldLock, VirtualNow, VirtualSleep};
        virtualTime = {}, lockFreeAt = std::chrono::milliseconds(freeAt), lockThen = then,
        attemptsAt.clear();
        EXPECT_EQ(WriteLogLine(logFile, true, "x"), written) << wait << " " << freeAt;
        std::vector<std::int64_t> expected;
        for (int i = 0; i < attempts; ++i)
            expected.push_back(10 * i);
        EXPECT_EQ(attemptsAt, expected) << wait << " " << freeAt;
    }
}
}  // namespace
}  // namespace ob310
