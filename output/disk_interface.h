// Files at the system level: opening them for what they are used for, their
// size, reads, writes, cuts, flushes and byte locks, for the log and for the
// simulator's files alike. One half per system: disk_interface_posix.cpp and
// disk_interface_windows.cpp. Code that needs a fault or a clock of its own in
// a test takes a DiskInterface and is handed a double.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

namespace ob310 {

// A POSIX descriptor or a Windows HANDLE.
using FileHandle = std::intptr_t;
inline constexpr FileHandle NoFile = -1;

// What a file is opened for.
enum class FileUse {
    // The log: appended to (each write goes to the end of the file by
    // itself) and read back, created when missing. A regular file, a FIFO or
    // pipe (opened without waiting for a reader, then written with blocking
    // writes), or the null device; any other device is refused before it is
    // opened. Windows: not shared for deleting, so the log cannot vanish under
    // a run.
    Log,
    // A file of the simulator's: appended to, created when missing; a regular
    // file only. Shared for deleting (deleting it resets the device).
    Append,
    // A file to lock: created when missing; a regular file only. Shared for
    // deleting.
    Lock,
};

struct OpenedFile {
    FileHandle file = NoFile;  // NoFile when it could not be opened or was refused
    bool created = false;      // this open made the file
};

enum class LockResult { Taken, Busy, Unsupported };

class DiskInterface {
public:
    virtual ~DiskInterface() = default;

    // `path` is UTF-8 on every system.
    virtual OpenedFile Open(const std::string& path, FileUse use) = 0;
    // False when the system reports an error (a network share's delayed
    // write error).
    virtual bool Close(FileHandle file) = 0;
    // Whether `path` names the open `file` itself, however it is spelt.
    virtual bool IsSameFile(FileHandle file, const std::string& path) = 0;
    // The size in bytes; -1 when the file has none (a pipe, a device).
    virtual long long Size(FileHandle file) = 0;
    // Reads up to `size` bytes at `offset`; returns how many were read.
    virtual std::size_t ReadAt(FileHandle file, long long offset, char* data, std::size_t size) = 0;
    // One system write; returns how many bytes reached the file (a full disk
    // may take a part before it fails).
    virtual std::size_t Write(FileHandle file, const char* data, std::size_t size) = 0;
    virtual bool Truncate(FileHandle file, long long size) = 0;
    // Flushes the file to stable storage. A pipe or a device has nothing to
    // flush: true.
    virtual bool Flush(FileHandle file) = 0;
    // Flushes the folder that holds `path`, so that a new name is on disk.
    virtual bool FlushFolderOf(const std::string& path) = 0;
    // One attempt, never waiting, at an exclusive lock of the one byte at
    // `offset`, held by this open file alone: another open of the same file,
    // in this process or another, is refused it until Unlock or Close.
    virtual LockResult TryLock(FileHandle file, long long offset) = 0;
    virtual void Unlock(FileHandle file, long long offset) = 0;
    // The same for the lock of a whole lock file: on POSIX flock(2), which a
    // script takes with flock(1) too; on Windows the lock of its first byte.
    virtual LockResult TryLockFile(FileHandle file) = 0;
    virtual void UnlockFile(FileHandle file) = 0;
    // The monotonic clock and the sleep that waits for a lock run on.
    virtual std::chrono::steady_clock::time_point Now() = 0;
    virtual void Sleep(std::chrono::milliseconds time) = 0;
};

// The system's files.
class RealDiskInterface : public DiskInterface {
public:
    OpenedFile Open(const std::string& path, FileUse use) override;
    bool Close(FileHandle file) override;
    bool IsSameFile(FileHandle file, const std::string& path) override;
    long long Size(FileHandle file) override;
    std::size_t ReadAt(FileHandle file, long long offset, char* data, std::size_t size) override;
    std::size_t Write(FileHandle file, const char* data, std::size_t size) override;
    bool Truncate(FileHandle file, long long size) override;
    bool Flush(FileHandle file) override;
    bool FlushFolderOf(const std::string& path) override;
    LockResult TryLock(FileHandle file, long long offset) override;
    void Unlock(FileHandle file, long long offset) override;
    LockResult TryLockFile(FileHandle file) override;
    void UnlockFile(FileHandle file) override;
    std::chrono::steady_clock::time_point Now() override {
        return std::chrono::steady_clock::now();
    }
    void Sleep(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
};

// Opens `path` (UTF-8) for reading in binary mode; null when it cannot be
// opened or is a folder. Only a FIFO is opened without waiting for a writer
// (one nobody writes to then reads as empty); its reads block as usual. A
// regular file is opened plainly, so the open waits while another process's
// lease on it is broken.
std::FILE* OpenReadStream(const std::string& path);

// The station's local time now: the system's own on Windows, whatever the
// environment's TZ says (the C runtime takes a zone name it does not know,
// such as "Europe/Berlin", as UTC).
std::tm LocalTimeNow();

}  // namespace ob310
