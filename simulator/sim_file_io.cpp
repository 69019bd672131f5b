#include "simulator/sim_file_io.h"

namespace ob310 {

SimAppendFile::~SimAppendFile() {
    if (file_ != NoFile) {
        disk_.Close(file_);
    }
}

bool SimAppendFile::Open(const std::string& path) {
    if (file_ != NoFile) {
        return false;
    }
    file_ = disk_.Open(path, FileUse::Append).file;
    return file_ != NoFile;
}

bool SimAppendFile::Append(std::string_view text) {
    return file_ != NoFile && disk_.Write(file_, text.data(), text.size()) == text.size();
}

SimDeviceLock::~SimDeviceLock() {
    if (file_ != NoFile) {
        disk_.UnlockFile(file_);
        disk_.Close(file_);
    }
}

SimDeviceLock::Outcome SimDeviceLock::Take(const std::string& path, std::uint32_t waitMs,
                                           const std::function<void(std::uint32_t ms)>& sleep) {
    if (file_ != NoFile) {
        return Outcome::Failed;
    }
    file_ = disk_.Open(path, FileUse::Lock).file;
    if (file_ == NoFile) {
        return Outcome::Failed;
    }
    for (std::uint32_t waited = 0;; waited += RetryMs) {
        const LockResult result = disk_.TryLockFile(file_);
        if (result == LockResult::Taken) {
            return Outcome::Taken;
        }
        const bool busy = result == LockResult::Busy;
        if (!busy || waited >= waitMs) {
            disk_.Close(file_);
            file_ = NoFile;
            return busy ? Outcome::Busy : Outcome::Failed;
        }
        sleep(RetryMs);
    }
}

void SimSleepMs(std::uint32_t ms) { RealDiskInterface().Sleep(std::chrono::milliseconds(ms)); }

}  // namespace ob310
