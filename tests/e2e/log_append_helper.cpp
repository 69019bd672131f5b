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

#include "output/log_file.h"
#include "tests/support/file_bytes.h"

namespace {

bool WaitFor(const std::string& path) {
    for (int i = 0; i < 6000 && !std::filesystem::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::filesystem::exists(path);
}

bool HoldLock(const std::string& log) {
    ob310::RealDiskInterface disk;
    const ob310::FileHandle file = disk.Open(log, ob310::FileUse::Log).file;
    auto lock = ob310::LockResult::Unsupported;
    while (file != ob310::NoFile &&
           (lock = disk.TryLock(file, ob310::LogLockByte)) == ob310::LockResult::Busy)
        disk.Sleep(std::chrono::milliseconds(10));
    if (lock != ob310::LockResult::Taken)
        return false;
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
