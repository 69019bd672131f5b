#include "output/log_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ob310 {
namespace {

// Due lines are appended after earlier content as stamp ": " text CR LF, the
// stamp day, month, year and a 24-hour clock; lines not due write nothing; a
// lost line is reported.
TEST(LogFile, AppendsDueLinesAndReportsLostOnes) {
    std::tm local{};
    local.tm_year = 2027 - 1900, local.tm_mday = 9, local.tm_hour = 18, local.tm_min = 5;
    EXPECT_EQ(FormatLogTimeStamp(local), "09.01.2027 18:05:00");
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
    const std::string stamp = FormatLogTimeStamp(LocalTimeNow());
    EXPECT_TRUE(WriteLogLine(logFile, true, "CMD=erase;STATE=success;;"));
    EXPECT_TRUE(WriteLogLine(logFile, false, "logging off"));
    const std::string log = ReadFileBytes(dir.File("run.log"));
    EXPECT_EQ(log.substr(0, 20) + log.substr(28),
              std::string("earlier\r\n") + stamp.substr(0, 11) + ": CMD=erase;STATE=success;;\r\n");
    ASSERT_TRUE(missing.LogfileOpen(dir.File("missing_folder/run.log"), console));
    EXPECT_FALSE(WriteLogLine(missing, true, "CMD=write;"));
}

// A log must keep its records: a device other than the null device is
// refused, and so is a folder.
TEST(LogFile, OnlyFilesPipesAndTheNullDeviceAreLogs) {
    TempDir dir;
#ifdef _WIN32
    const std::pair<std::string, bool> names[] = {
        {"NUL", true}, {"aux.log", false}, {"COM1", false}, {"CON", false}, {dir.File(""), false}};
#else
    const std::pair<std::string, bool> names[] = {
        {"/dev/null", true}, {"/dev/zero", false}, {"/dev/full", false}, {dir.File(""), false}};
#endif
    ConsoleCapture console;
    for (const auto& [name, opens] : names) {
        CLogFile logFile;
        logFile.LogfileOpen(name, console);
        EXPECT_EQ(logFile.IsOpen(), opens) << name;
    }
}

// The real disk with what other stations do to it, on a virtual clock: the
// next line's write takes only `take` bytes, with another writer's bytes
// appended to `path` just before or after it; the lock is another station's
// until `lockFreeAt`, then `lockThen`.
class StationDisk : public RealDiskInterface {
public:
    std::size_t Write(FileHandle file, const char* data, std::size_t size) override {
        std::ofstream(path, std::ios::binary | std::ios::app) << before;
        const std::size_t taken = RealDiskInterface::Write(file, data, std::min(size, take));
        std::ofstream(path, std::ios::binary | std::ios::app) << after;
        take = SIZE_MAX, before.clear(), after.clear();
        return taken;
    }
    bool FlushFolderOf(const std::string& path) override {
        ++folderFlushes;
        return RealDiskInterface::FlushFolderOf(path);
    }
    LockResult TryLock(FileHandle, long long) override {
        attemptsAt.push_back(time.count());
        return time < lockFreeAt ? LockResult::Busy : lockThen;
    }
    void Unlock(FileHandle, long long) override {}
    std::chrono::steady_clock::time_point Now() override {
        return std::chrono::steady_clock::time_point(time);
    }
    void Sleep(std::chrono::milliseconds t) override { time += t; }

    std::size_t take = SIZE_MAX;
    std::string path, before, after;
    int folderFlushes = 0;
    std::chrono::milliseconds time{0}, lockFreeAt{0};
    LockResult lockThen = LockResult::Taken;
    std::vector<std::int64_t> attemptsAt;
};

// A line starts on its own line, and one the disk takes only in part leaves
// nothing the next record could join: the part is cut off only when it is
// provably the line's own (read back, under the lock), else ended with CR LF;
// another writer's bytes are never cut.
TEST(LogFile, LineStartsOnItsOwnLineAndLeavesNoFragment) {
    const std::string line = "CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=t.ob310;DEVICE=x;";
    const std::string part = line.substr(0, 10);
    const std::string other = "12.01.2027 08:00:00: CMD=erase;STATE=success;;\r\n";
    const struct {
        std::optional<std::string> earlier;  // none: the run makes the file
        std::size_t take;
        std::string before, after, log;
        LockResult lock = LockResult::Taken;
    } cases[] = {
        {"e\r\n", SIZE_MAX, "", "", "e\r\n" + line + "\r\n"},
        {std::nullopt, SIZE_MAX, "", "", line + "\r\n"},
        {"e", SIZE_MAX, "", "", "e\r\n" + line + "\r\n"},
        {"e\r\n", 0, "", "", "e\r\n"},
        {"e\r\n", 10, "", "", "e\r\n"},
        {"e\r\n", line.size() + 1, "", "", "e\r\n"},
        {"e", 10, "", "", "e"},
        {"e\r\n", 10, other, "", "e\r\n" + other + part + "\r\n"},
        {"e\r\n", 10, "", other, "e\r\n" + part + other + "\r\n"},
        {"e\r\n", 10, "", "", "e\r\n" + part + "\r\n", LockResult::Unsupported},
    };
    TempDir dir;
    ConsoleCapture console;
    for (const auto& c : cases) {
        std::filesystem::remove(dir.File("run.log"));
        if (c.earlier)
            WriteFileBytes(dir.File("run.log"), *c.earlier);
        StationDisk disk;
        disk.take = c.take, disk.before = c.before, disk.after = c.after, disk.lockThen = c.lock;
        disk.path = dir.File("run.log");
        {
            CLogFile logFile;
            logFile.disk = &disk;
            ASSERT_TRUE(logFile.LogfileOpen(dir.File("run.log"), console));
            EXPECT_EQ(logFile.WriteLine(line), c.take == SIZE_MAX) << c.log;
        }
        EXPECT_EQ(ReadFileBytes(dir.File("run.log")), c.log);
        EXPECT_EQ(disk.folderFlushes, c.earlier ? 0 : 1) << c.log;
    }
}

// A lock another station holds is tried again every 10 ms, for at most the
// lock wait (5000 ms unless set): then the line fails rather than wait on.
TEST(LogFile, LineWaitsForAnotherStationsLockAtMostTheLockWait) {
    TempDir dir;
    ConsoleCapture console;
    const std::tuple<int, int, LockResult, bool, int> cases[] = {
        // lock wait, lock free at (ms), then, written, attempts
        {LogLockWaitMs, 1 << 30, LockResult::Taken, false, 501},
        {0, 1 << 30, LockResult::Taken, false, 1},
        {LogLockWaitMs, 30, LockResult::Taken, true, 4},
        // No locks there: written unlocked.
        {LogLockWaitMs, 0, LockResult::Unsupported, true, 1},
    };
    for (const auto& [wait, freeAt, then, written, attempts] : cases) {
        StationDisk disk;
        disk.lockFreeAt = std::chrono::milliseconds(freeAt), disk.lockThen = then;
        CLogFile logFile;
        logFile.disk = &disk;
        ASSERT_TRUE(logFile.LogfileOpen(dir.File("run.log"), console));
        if (wait != LogLockWaitMs)
            logFile.lockWaitMs = wait;
        EXPECT_EQ(WriteLogLine(logFile, true, "x"), written) << wait << " " << freeAt;
        std::vector<std::int64_t> expected;
        for (int i = 0; i < attempts; ++i)
            expected.push_back(10 * i);
        EXPECT_EQ(disk.attemptsAt, expected) << wait << " " << freeAt;
    }
}
}  // namespace
}  // namespace ob310
