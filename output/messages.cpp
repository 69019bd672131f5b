#include "output/messages.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

#include "output/native_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace ob310 {

namespace {

// ". Code=0x" and the code as four lower-case hex digits.
std::string CodeSuffix(std::uint16_t code) {
    std::array<char, 16> digits{};
    std::snprintf(digits.data(), digits.size(), "%04x", static_cast<unsigned>(code));
    return std::string(". Code=0x") + digits.data();
}

}  // namespace

void PrintError(OutputSink& console, const std::string& text, std::uint16_t code) {
    console.WriteLine("\x1b[31m" + text + CodeSuffix(code) + "\x1b[0m");
}

void PrintVerbose(OutputSink& console, bool verboseMode, const std::string& text) {
    if (!verboseMode) {
        return;
    }
    console.WriteLine(text + CodeSuffix(0));
}

std::string FormatLogTimeStamp(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &when) != 0) {
        return {};
    }
#else
    if (localtime_r(&when, &local) == nullptr) {
        return {};
    }
#endif
    std::array<char, 64> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%d.%m.%Y %H:%M:%S", &local);
    return std::string(text.data(), length);
}

bool WriteLogLine(CLogFile& logFile, bool logRequested, const std::string& text) {
    if (!logRequested || text.empty() || !logFile.IsNamed()) {
        return true;
    }
    return logFile.WriteLine(FormatLogTimeStamp(std::time(nullptr)) + ": " + text);
}

namespace {

// The pieces of AppendLogLine each system does its own way.
#ifdef _WIN32
HANDLE Handle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// One byte far beyond any log's end: a write at the end never touches it.
OVERLAPPED LockByte() {
    OVERLAPPED byte{};
    byte.Offset = 0xFFFFFFFF;
    byte.OffsetHigh = 0x7FFFFFFF;
    return byte;
}

LogLockResult TryLock(std::intptr_t file) {
    OVERLAPPED byte = LockByte();
    if (LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &byte) != 0) {
        return LogLockResult::Taken;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION ? LogLockResult::Busy
                                                  : LogLockResult::Unsupported;
}

void Unlock(std::intptr_t file) {
    OVERLAPPED byte = LockByte();
    UnlockFileEx(Handle(file), 0, 1, 0, &byte);
}

long long FileSize(std::intptr_t file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(Handle(file), &size) != 0 ? size.QuadPart : -1;
}

// Cutting the file needs FILE_WRITE_DATA, which the log's own handle lacks
// (with it, writes would no longer go to the end by themselves): a second
// handle on the same file asks for it only here.
bool TruncateTo(std::intptr_t file, long long size) {
    const HANDLE writer =
        ReOpenFile(Handle(file), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (writer == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    const bool cut = SetFileInformationByHandle(writer, FileEndOfFileInfo, &end, sizeof end) != 0;
    return CloseHandle(writer) != 0 && cut;
}

// Only a disk file has storage to flush; a pipe or a device (NUL) has its
// line once it is written.
bool Flush(std::intptr_t file) {
    return GetFileType(Handle(file)) != FILE_TYPE_DISK || FlushFileBuffers(Handle(file)) != 0;
}
#else
int Descriptor(std::intptr_t file) { return static_cast<int>(file); }

// flock, not fcntl locks: those would be dropped by any close of the file in
// this process.
LogLockResult TryLock(std::intptr_t file) {
    if (flock(Descriptor(file), LOCK_EX | LOCK_NB) == 0) {
        return LogLockResult::Taken;
    }
    return errno == EWOULDBLOCK || errno == EINTR ? LogLockResult::Busy
                                                  : LogLockResult::Unsupported;
}

void Unlock(std::intptr_t file) { flock(Descriptor(file), LOCK_UN); }

long long FileSize(std::intptr_t file) {
    struct stat info {};
    return fstat(Descriptor(file), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool TruncateTo(std::intptr_t file, long long size) {
    int result = -1;
    do {
        result = ftruncate(Descriptor(file), static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// A pipe or a terminal has no storage to flush (EINVAL): its line is gone
// where it goes once written.
bool Flush(std::intptr_t file) {
    int result = -1;
    do {
        result = fsync(Descriptor(file));
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EINVAL;
}
#endif

// Waits for the log's lock, at most `waitMs`: false when another station
// still holds it then. A file system without locks is written unlocked
// (`locked` off), as the system's append alone keeps lines whole there.
bool TakeLock(std::intptr_t file, int waitMs, const LogLockCalls& calls, bool& locked) {
    const auto deadline = calls.now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const LogLockResult result = calls.tryLock(file);
        if (result != LogLockResult::Busy) {
            locked = result == LogLockResult::Taken;
            return true;
        }
        if (calls.now() >= deadline) {
            return false;
        }
        calls.sleep(std::chrono::milliseconds(LogLockRetryMs));
    }
}

// After a write that did not take the whole line: what reached the file lies
// between `start` and the end, and the next line would join it. A part of the
// line alone is cut off again, under the lock only (without it another
// station's line may follow); anything else there (bytes of a writer that
// does not take the lock) is ended with CR LF.
void LeaveNoFragment(std::intptr_t file, long long start, std::size_t lineSize, bool locked,
                     LogWriteCall write) {
    const long long end = FileSize(file);
    if (start < 0 || end <= start) {
        return;
    }
    if (locked && end - start < static_cast<long long>(lineSize) && TruncateTo(file, start)) {
        return;
    }
    write(file, "\r\n", 2);
}

}  // namespace

LogLockResult SystemTryLogLock(std::intptr_t file) { return TryLock(file); }

std::chrono::steady_clock::time_point SystemLogClock() { return std::chrono::steady_clock::now(); }

void SystemLogSleep(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

std::size_t SystemLogWrite(std::intptr_t file, const char* data, std::size_t size) {
#ifdef _WIN32
    DWORD written = 0;
    WriteFile(Handle(file), data, static_cast<DWORD>(size), &written, nullptr);
    return written;
#else
    ssize_t written = -1;
    do {
        written = write(Descriptor(file), data, size);
    } while (written < 0 && errno == EINTR);
    return written < 0 ? 0 : static_cast<std::size_t>(written);
#endif
}

bool AppendLogLine(std::intptr_t file, const std::string& bytes, int lockWaitMs, LogWriteCall write,
                   const LogLockCalls& lock) {
    // The append alone puts a line at the end in one piece (Windows: except
    // under Wine, which emulates it with a seek and a write); the lock adds
    // that no station writes while another one takes back a part of its line.
    bool locked = false;
    if (!TakeLock(file, lockWaitMs, lock, locked)) {
        return false;
    }
    const long long start = FileSize(file);
    const bool whole = write(file, bytes.data(), bytes.size()) == bytes.size();
    if (!whole) {
        LeaveNoFragment(file, start, bytes.size(), locked, write);
    }
    if (locked) {
        Unlock(file);
    }
    // A line counts once it is on stable storage: a power cut after the run's
    // exit status must not take it.
    return whole && Flush(file);
}

CLogFile::~CLogFile() { Close(); }

bool CLogFile::LogfileOpen(std::string name, OutputSink& console) {
    if (name.empty()) {
        console.WriteLine("\x1b[0;31mError: LogfileOpen - No filename specified.\x1b[0m");
        return false;
    }
    // A second name replaces the first: close the first file so the result
    // line goes where the last -l said.
    Close();
    fileName = std::move(name);
#ifdef _WIN32
    // FILE_APPEND_DATA without FILE_WRITE_DATA: the system moves every write
    // to the end of the file at the moment it happens. FILE_READ_DATA because
    // Windows grants the lock of AppendLogLine only to a handle with read or
    // write access. Not shared for deleting: the log cannot vanish under a run.
    const HANDLE handle = CreateFileW(
        WideFromUtf8(fileName).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    file = handle == INVALID_HANDLE_VALUE ? ClosedFile : reinterpret_cast<std::intptr_t>(handle);
#else
    // Opened without blocking: a FIFO that nobody reads fails (ENXIO) rather
    // than holding the run; the writes themselves block as usual.
    const int descriptor =
        open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (descriptor >= 0) {
        fcntl(descriptor, F_SETFL, O_APPEND);
    }
    file = descriptor < 0 ? ClosedFile : descriptor;
#endif
    return true;
}

bool CLogFile::WriteLine(const std::string& line) {
    return IsOpen() && AppendLogLine(file, line + "\r\n", lockWaitMs, writeCall, lockCalls);
}

bool CLogFile::Close() {
    if (file == ClosedFile) {
        return true;
    }
#ifdef _WIN32
    const bool closed = CloseHandle(reinterpret_cast<HANDLE>(file)) != 0;
#else
    const bool closed = close(static_cast<int>(file)) == 0;
#endif
    file = ClosedFile;
    return closed;
}

}  // namespace ob310
