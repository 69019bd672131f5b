// Error lines, informational lines and the log file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "output/console.h"

namespace ob310 {

// Writes ESC "[31m", text, ". Code=0x", the code as four lower-case hex digits,
// ESC "[0m" and a line end to `console`. Always written.
void PrintError(OutputSink& console, const std::string& text, std::uint16_t code);

// Writes text, ". Code=0x0000" and a line end to `console`, only in verbose
// mode.
void PrintVerbose(OutputSink& console, bool verboseMode, const std::string& text);

class CLogFile;

// Appends "<dd.mm.yyyy HH:MM:SS>: text" CR LF to `logFile` when logging is
// on, the text is not empty and a log file was named. Returns false only when
// such a line was due and could not be written.
bool WriteLogLine(CLogFile& logFile, bool logRequested, const std::string& text);

// "%d.%m.%Y %H:%M:%S" of `when` in local time; empty when formatting fails.
std::string FormatLogTimeStamp(std::time_t when);

// How long a line waits for another station's line to leave the log's lock,
// trying it again every LogLockRetryMs.
inline constexpr int LogLockWaitMs = 5000;
inline constexpr int LogLockRetryMs = 10;

// One attempt at the log's lock, which never blocks. Unsupported: the file
// system has no locks.
enum class LogLockResult { Taken, Busy, Unsupported };
LogLockResult SystemTryLogLock(std::intptr_t file);
std::chrono::steady_clock::time_point SystemLogClock();
void SystemLogSleep(std::chrono::milliseconds time);

// What the wait for the log's lock runs on: the attempt at the lock, the
// monotonic clock and the sleep between attempts; tests put virtual ones here.
struct LogLockCalls {
    LogLockResult (*tryLock)(std::intptr_t file) = SystemTryLogLock;
    std::chrono::steady_clock::time_point (*now)() = SystemLogClock;
    void (*sleep)(std::chrono::milliseconds time) = SystemLogSleep;
};

// The system's write of a log line to an open log: how many bytes reached the
// file (fewer than `size` when the write failed, a full disk may take a part).
using LogWriteCall = std::size_t (*)(std::intptr_t file, const char* data, std::size_t size);
std::size_t SystemLogWrite(std::intptr_t file, const char* data, std::size_t size);

// Appends `bytes` (one line with its CR LF) to the open log `file` in one
// `write`, under the log's lock (waited for at most `lockWaitMs` through
// `lock`), and flushes it to stable storage. True only when the whole line is
// there. A line the system takes only in part leaves nothing that can join the
// next record: the part is taken back when nothing came after it, else it is
// ended with CR LF.
bool AppendLogLine(std::intptr_t file, const std::string& bytes, int lockWaitMs, LogWriteCall write,
                   const LogLockCalls& lock);

// The log file of a run (the run context's `logFile`). It is opened for
// appending only (POSIX O_APPEND; Windows FILE_APPEND_DATA without
// FILE_WRITE_DATA), without blocking (a FIFO nobody reads fails to open),
// shared for reading and writing, and every line goes out in one write under
// a lock (see AppendLogLine): several stations can share one log.
class CLogFile {
public:
    CLogFile() = default;
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;
    virtual ~CLogFile();

    // Opens `fileName` (UTF-8) for appending, created when missing. An empty
    // name writes the red "Error: LogfileOpen - No filename specified." line
    // to `console` and returns false. A log already open is closed first, so
    // the last name wins. True when a name was taken, even when the file
    // could not be opened (then IsNamed() but not IsOpen()).
    bool LogfileOpen(std::string fileName, OutputSink& console);
    // True while the file is open for writing.
    bool IsOpen() const { return file != ClosedFile; }
    // True once a name was taken: from then on a due line that cannot be
    // written (the file never opened, or already closed) is a lost line.
    bool IsNamed() const { return !fileName.empty(); }
    // Appends one line and CR LF, on stable storage when it returns true.
    bool WriteLine(const std::string& line);
    // False when the system reports an error on closing (a delayed write
    // error of a network share): the last line may not have reached the file.
    bool Close();

    std::string fileName;
    // How WriteLine waits and writes; tests put a shorter wait, a virtual
    // clock or a full disk here.
    int lockWaitMs = LogLockWaitMs;
    LogLockCalls lockCalls;
    LogWriteCall writeCall = SystemLogWrite;

private:
    static constexpr std::intptr_t ClosedFile = -1;
    std::intptr_t file = ClosedFile;  // a POSIX descriptor or a Windows HANDLE
};

}  // namespace ob310
