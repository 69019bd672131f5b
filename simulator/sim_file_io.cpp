#include "simulator/sim_file_io.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "output/native_text.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>
#endif

namespace ob310 {

namespace {

bool IsRegularOrAbsent(const std::string& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    return type == std::filesystem::file_type::not_found ||
           type == std::filesystem::file_type::regular;
}

#ifdef _WIN32
HANDLE AsHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// Shared for deleting too: the user may delete the simulator's files at any
// time to reset the device.
std::intptr_t OpenFile(const std::string& path, DWORD access) {
    const HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}
#endif

}  // namespace

SimAppendFile::~SimAppendFile() {
    if (file_ == Closed) {
        return;
    }
#ifdef _WIN32
    CloseHandle(AsHandle(file_));
#else
    close(static_cast<int>(file_));
#endif
}

bool SimAppendFile::Open(const std::string& path) {
    if (file_ != Closed || !IsRegularOrAbsent(path)) {
        return false;
    }
#ifdef _WIN32
    // Append data only: every write goes to the end of the file.
    file_ = OpenFile(path, FILE_APPEND_DATA | SYNCHRONIZE);
#else
    file_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
#endif
    return file_ != Closed;
}

bool SimAppendFile::Append(std::string_view text) {
    if (file_ == Closed) {
        return false;
    }
#ifdef _WIN32
    DWORD written = 0;
    return WriteFile(AsHandle(file_), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) &&
           written == text.size();
#else
    return write(static_cast<int>(file_), text.data(), text.size()) ==
           static_cast<ssize_t>(text.size());
#endif
}

SimDeviceLock::~SimDeviceLock() {
    if (file_ == Closed) {
        return;
    }
#ifdef _WIN32
    OVERLAPPED start{};
    UnlockFileEx(AsHandle(file_), 0, 1, 0, &start);
    CloseHandle(AsHandle(file_));
#else
    close(static_cast<int>(file_));  // releases the flock
#endif
}

SimDeviceLock::Outcome SimDeviceLock::Take(const std::string& path, std::uint32_t waitMs,
                                           const std::function<void(std::uint32_t ms)>& sleep) {
    if (file_ != Closed) {
        return Outcome::Failed;
    }
#ifdef _WIN32
    file_ = OpenFile(path, GENERIC_READ | GENERIC_WRITE);
#else
    // flock rather than fcntl locks: those belong to the process, so a
    // second lock of the same process would not be refused.
    file_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
#endif
    if (file_ == Closed) {
        return Outcome::Failed;
    }
    for (std::uint32_t waited = 0;; waited += RetryMs) {
#ifdef _WIN32
        OVERLAPPED start{};
        if (LockFileEx(AsHandle(file_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                       0, &start)) {
            return Outcome::Taken;
        }
        const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
#else
        if (flock(static_cast<int>(file_), LOCK_EX | LOCK_NB) == 0) {
            return Outcome::Taken;
        }
        const bool busy = errno == EWOULDBLOCK || errno == EINTR;
#endif
        if (!busy || waited >= waitMs) {
#ifdef _WIN32
            CloseHandle(AsHandle(file_));
#else
            close(static_cast<int>(file_));
#endif
            file_ = Closed;
            return busy ? Outcome::Busy : Outcome::Failed;
        }
        sleep(RetryMs);
    }
}

void SimSleepMs(std::uint32_t ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
#endif
}

}  // namespace ob310
