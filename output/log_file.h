// The log file: one time-stamped line per successful erase or write, shared
// by several stations.
#pragma once

#include <ctime>
#include <string>

#include "output/console.h"
#include "output/disk_interface.h"

namespace ob310 {

// "%d.%m.%Y %H:%M:%S" of `local`.
std::string FormatLogTimeStamp(const std::tm& local);

// How long a line waits for another station's line to leave the log's lock,
// trying it again every LogLockRetryMs.
inline constexpr int LogLockWaitMs = 5000;
inline constexpr int LogLockRetryMs = 10;
// The byte every station locks around its line, far beyond any log's end so
// that no write at the end touches it: the same byte on every system.
inline constexpr long long LogLockByte = 0x7FFFFFFFFFFFFFFF;

// The log file of a run (the run context's `logFile`). It is opened for
// appending only, shared for reading and writing, and every line goes out in
// one write under the lock of LogLockByte: several stations can share one log.
class CLogFile {
public:
    CLogFile() = default;
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;
    virtual ~CLogFile();

    // Opens `fileName` (UTF-8) for appending, created when missing (see
    // FileUse::Log: a device other than the null device is refused). An empty
    // name writes the red "Error: LogfileOpen - No filename specified." line
    // to `console` and returns false. A log already open is closed first, so
    // the last name wins. True when a name was taken, even when the file
    // could not be opened (then IsNamed() but not IsOpen()).
    bool LogfileOpen(std::string fileName, OutputSink& console);
    // True while the file is open for writing.
    bool IsOpen() const { return file_ != NoFile; }
    // True once a name was taken: from then on a due line that cannot be
    // written (the file never opened, or already closed) is a lost line.
    bool IsNamed() const { return !fileName.empty(); }
    // Whether `path` names the open log itself.
    bool Is(const std::string& path) const { return IsOpen() && disk->IsSameFile(file_, path); }
    // Takes the lock and lets it go at once, waiting as a line would: false
    // when another process keeps it, so that a run learns it before it
    // touches the device, not after.
    bool LockCanBeHad();
    // Appends one line and CR LF, on stable storage when it returns true.
    //
    // Under the lock: a last line that has no line end (edited by hand, cut by
    // another program) is ended with CR LF first, in the same write. A line
    // the system takes only in part leaves nothing the next record could join:
    // when what lies past the old end is exactly a beginning of the line, it
    // is cut off again; anything else there (another writer's bytes, a writer
    // that takes no lock) is kept and ended with CR LF. When the run made the
    // file, its folder is flushed too.
    bool WriteLine(const std::string& line);
    // False when the system reports an error on closing (a delayed write
    // error of a network share): the last line may not have reached the file.
    bool Close();

    std::string fileName;
    // The files, locks and clock the log works with; tests hand in doubles
    // (before LogfileOpen) and a shorter wait.
    DiskInterface* disk = &real_;
    int lockWaitMs = LogLockWaitMs;

private:
    RealDiskInterface real_;
    FileHandle file_ = NoFile;
    bool created_ = false;  // this run made the file
};

// Appends "<dd.mm.yyyy HH:MM:SS>: text" CR LF, in the station's local time,
// to `logFile` when logging is on, the text is not empty and a log file was
// named. Returns false only when such a line was due and could not be written.
bool WriteLogLine(CLogFile& logFile, bool logRequested, const std::string& text);

}  // namespace ob310
