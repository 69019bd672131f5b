#include "output/log_file.h"

#include <array>

namespace ob310 {

namespace {

// Waits for the log's lock, at most `waitMs`: false when another station
// still holds it then. A file system without locks is written unlocked
// (`locked` off), as the system's append alone keeps lines whole there.
bool TakeLock(DiskInterface& disk, FileHandle file, int waitMs, bool& locked) {
    const auto deadline = disk.Now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const LockResult result = disk.TryLock(file, LogLockByte);
        if (result != LockResult::Busy) {
            locked = result == LockResult::Taken;
            return true;
        }
        if (disk.Now() >= deadline) {
            return false;
        }
        disk.Sleep(std::chrono::milliseconds(LogLockRetryMs));
    }
}

// Whether the `size` bytes at `start` are `bytes` themselves: only then are
// they provably this line's own part.
bool HoldsOwnPart(DiskInterface& disk, FileHandle file, long long start, const std::string& bytes) {
    std::string there(bytes.size(), '\0');
    return disk.ReadAt(file, start, there.data(), there.size()) == there.size() && there == bytes;
}

// After a write that did not take the whole line: what reached the file lies
// between `start` and the end, and the next line would join it. The line's
// own part is cut off again, under the lock only (without it another
// station's line may follow); anything else there is ended with CR LF.
void LeaveNoFragment(DiskInterface& disk, FileHandle file, long long start,
                     const std::string& bytes, bool locked) {
    const long long end = disk.Size(file);
    if (start < 0 || end <= start) {
        return;
    }
    const auto added = static_cast<std::size_t>(end - start);
    if (locked && added < bytes.size() && HoldsOwnPart(disk, file, start, bytes.substr(0, added)) &&
        disk.Truncate(file, start)) {
        return;
    }
    disk.Write(file, "\r\n", 2);
}

// Whether the file of `size` bytes ends with a line end (or is empty, or has
// no size: a pipe). A last byte that cannot be read counts as one.
bool EndsWithLineEnd(DiskInterface& disk, FileHandle file, long long size) {
    char last = '\n';
    return size <= 0 || disk.ReadAt(file, size - 1, &last, 1) != 1 || last == '\n';
}

// Appends `line` in one write under the log's lock (waited for at most
// `lockWaitMs`) and flushes it to stable storage. True only when the whole
// line is there.
bool AppendLogLine(DiskInterface& disk, FileHandle file, std::string line, int lockWaitMs) {
    // The append alone puts a line at the end in one piece (Windows: except
    // under Wine, which emulates it with a seek and a write); the lock adds
    // that no station writes while another one reads the end or takes back a
    // part of its line.
    bool locked = false;
    if (!TakeLock(disk, file, lockWaitMs, locked)) {
        return false;
    }
    const long long start = disk.Size(file);
    if (!EndsWithLineEnd(disk, file, start)) {
        line.insert(0, "\r\n");
    }
    const bool whole = disk.Write(file, line.data(), line.size()) == line.size();
    if (!whole) {
        LeaveNoFragment(disk, file, start, line, locked);
    }
    if (locked) {
        disk.Unlock(file, LogLockByte);
    }
    // A line counts once it is on stable storage: a power cut after the run's
    // exit status must not take it.
    return whole && disk.Flush(file);
}

}  // namespace

std::string FormatLogTimeStamp(const std::tm& local) {
    std::array<char, 64> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%d.%m.%Y %H:%M:%S", &local);
    return std::string(text.data(), length);
}

bool WriteLogLine(CLogFile& logFile, bool logRequested, const std::string& text) {
    if (!logRequested || text.empty() || !logFile.IsNamed()) {
        return true;
    }
    return logFile.WriteLine(FormatLogTimeStamp(LocalTimeNow()) + ": " + text);
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
    const OpenedFile opened = disk->Open(fileName, FileUse::Log);
    file_ = opened.file;
    created_ = opened.created;
    return true;
}

bool CLogFile::LockCanBeHad() {
    bool locked = false;
    if (!IsOpen() || !TakeLock(*disk, file_, lockWaitMs, locked)) {
        return false;
    }
    if (locked) {
        disk->Unlock(file_, LogLockByte);
    }
    return true;
}

bool CLogFile::WriteLine(const std::string& line) {
    return IsOpen() && AppendLogLine(*disk, file_, line + "\r\n", lockWaitMs) &&
           (!created_ || disk->FlushFolderOf(fileName));
}

bool CLogFile::Close() {
    if (file_ == NoFile) {
        return true;
    }
    const bool closed = disk->Close(file_);
    file_ = NoFile;
    return closed;
}

}  // namespace ob310
