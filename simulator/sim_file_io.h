// The persistent simulator's files: lines appended in one unbuffered write
// each, and the lock that makes one folder one device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "output/disk_interface.h"

namespace ob310 {

// A file opened for appending. Each Append is one system write of the whole
// text, at once: a run killed between two appends leaves whole lines only,
// and nothing waits in a buffer of the process.
class SimAppendFile {
public:
    SimAppendFile() = default;
    ~SimAppendFile();
    SimAppendFile(const SimAppendFile&) = delete;
    SimAppendFile& operator=(const SimAppendFile&) = delete;

    // Opens `path` (UTF-8), created when missing. False, without opening
    // anything, when something other than a regular file is there: opening a
    // FIFO would block the run.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != NoFile; }
    // False when the file is not open or the text did not go out whole.
    bool Append(std::string_view text);

private:
    RealDiskInterface disk_;
    FileHandle file_ = NoFile;
};

// The exclusive lock on one file (created when missing, never removed, so
// that every run locks the same file), held until the object is destroyed
// (DiskInterface::TryLockFile: flock(1) takes it too on POSIX). Another
// process's lock on the file makes it busy; so does another SimDeviceLock of
// the same process.
class SimDeviceLock {
public:
    enum class Outcome { Taken, Busy, Failed };
    static constexpr std::uint32_t RetryMs = 100;

    SimDeviceLock() = default;
    ~SimDeviceLock();
    SimDeviceLock(const SimDeviceLock&) = delete;
    SimDeviceLock& operator=(const SimDeviceLock&) = delete;

    // Tries to lock `path`, again every RetryMs (passed to `sleep`) while it
    // is busy, for at most `waitMs`. Failed: the file can not be opened.
    Outcome Take(const std::string& path, std::uint32_t waitMs,
                 const std::function<void(std::uint32_t ms)>& sleep);

private:
    RealDiskInterface disk_;
    FileHandle file_ = NoFile;
};

// Sleeps `ms` milliseconds of real time.
void SimSleepMs(std::uint32_t ms);

}  // namespace ob310
