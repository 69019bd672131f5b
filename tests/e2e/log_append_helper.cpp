// log_append_helper LOG TAG COUNT [WAIT_MS]: appends COUNT lines "TAG N"
// through the tool's log file, as one of several stations sharing a log
// would. With WAIT_MS it first waits for LOG.held, gives each line the log's
// lock for at most WAIT_MS, and creates LOG.done when it ends.
// log_append_helper LOG hold: takes the log's lock as a station does,
// creates LOG.held and keeps the lock until LOG.done exists (at most 60 s).
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "output/messages.h"
#include "tests/support/file_bytes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#endif

namespace {

bool WaitFor(const std::string& path) {
    for (int i = 0; i < 6000 && !std::filesystem::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::filesystem::exists(path);
}

bool HoldLock(const std::string& log) {
#ifdef _WIN32
    const HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED farByte{};  // the byte every station locks around its line
    farByte.Offset = 0xFFFFFFFF;
    farByte.OffsetHigh = 0x7FFFFFFF;
    if (file == INVALID_HANDLE_VALUE ||
        !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &farByte))
        return false;
#else
    const int file = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (file < 0 || flock(file, LOCK_EX) != 0)
        return false;
#endif
    WriteFileBytes(log + ".held", "");
    return WaitFor(log + ".done");  // the process's end releases the lock
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[2]) == "hold")
        return HoldLock(argv[1]) ? 0 : 2;
    ob310::CLogFile logFile;
    ob310::ConsoleCapture console;
    if ((argc != 4 && argc != 5) || !logFile.LogfileOpen(argv[1], console))
        return 2;
    if (argc == 5) {
        logFile.lockWaitMs = std::stoi(argv[4]);
        if (!WaitFor(std::string(argv[1]) + ".held"))
            return 2;
    }
    int status = 0;
    for (int i = 0; i < std::stoi(argv[3]) && status == 0; ++i) {
        if (!ob310::WriteLogLine(logFile, true, std::string(argv[2]) + " " + std::to_string(i)))
            status = 1;
    }
    if (argc == 5)
        WriteFileBytes(std::string(argv[1]) + ".done", "");
    return status;
}
