#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "output/disk_interface.h"

namespace ob310 {

namespace {

int Descriptor(FileHandle file) { return static_cast<int>(file); }

// Runs `call` again while a signal interrupts it.
template <typename Call>
auto Retried(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
}

bool IsNullDevice(const struct stat& info) {
    struct stat null {};
    return S_ISCHR(info.st_mode) && stat("/dev/null", &null) == 0 && info.st_rdev == null.st_rdev;
}

// Whether a file of this kind may be opened for `use`: a regular file for
// every use, and for the log also a FIFO and the null device. Any other
// device keeps no record (a terminal, a serial port, /dev/zero).
bool Allowed(const struct stat& info, FileUse use) {
    return S_ISREG(info.st_mode) ||
           (use == FileUse::Log && (S_ISFIFO(info.st_mode) || IsNullDevice(info)));
}

// Sets the open file description lock of the one byte at `offset` to `type`
// (F_WRLCK, F_UNLCK) without waiting.
int SetByteLock(FileHandle file, long long offset, short type) {
    struct flock byte {};
    byte.l_type = type;
    byte.l_whence = SEEK_SET;
    byte.l_start = static_cast<off_t>(offset);
    byte.l_len = 1;
    return fcntl(Descriptor(file), F_OFD_SETLK, &byte);
}

}  // namespace

OpenedFile RealDiskInterface::Open(const std::string& path, FileUse use) {
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists && !Allowed(info, use)) {
        return {};
    }
    int flags = O_CLOEXEC | O_NOCTTY | (use == FileUse::Lock ? O_RDWR : O_APPEND);
    if (use == FileUse::Log) {
        // Read access, for the part of a line that is read back before it is
        // cut; O_RDWR on a FIFO would make this process its own reader.
        flags |= exists && S_ISFIFO(info.st_mode) ? O_WRONLY | O_NONBLOCK : O_RDWR;
    } else if (use == FileUse::Append) {
        flags |= O_WRONLY;
    }
    OpenedFile opened;
    int fd = -1;
    if (!exists) {
        // O_EXCL tells whether this open made the file.
        fd = Retried([&] { return open(path.c_str(), flags | O_CREAT | O_EXCL, 0666); });
        opened.created = fd >= 0;
    }
    if (fd < 0) {
        fd = Retried([&] { return open(path.c_str(), flags | O_CREAT, 0666); });
    }
    if (fd < 0 && errno == EACCES && (flags & O_RDWR) != 0 && use == FileUse::Log) {
        // A log the station may append to but not read: written all the
        // same; a part of a line is then ended, never cut.
        fd = Retried(
            [&] { return open(path.c_str(), (flags & ~O_RDWR) | O_WRONLY | O_CREAT, 0666); });
    }
    // The kind may have changed between the look and the open.
    if (fd >= 0 && (fstat(fd, &info) != 0 || !Allowed(info, use))) {
        close(fd);
        fd = -1;
    }
    if (fd >= 0 && (flags & O_NONBLOCK) != 0) {
        // Opened without waiting for a reader (a FIFO nobody reads fails with
        // ENXIO); the writes block as usual, so a slow reader still gets the
        // whole line.
        fcntl(fd, F_SETFL, flags & O_APPEND);
    }
    opened.file = fd;
    opened.created = opened.created && fd >= 0;
    return opened;
}

bool RealDiskInterface::Close(FileHandle file) { return close(Descriptor(file)) == 0; }

bool RealDiskInterface::IsSameFile(FileHandle file, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return fstat(Descriptor(file), &opened) == 0 && stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

long long RealDiskInterface::Size(FileHandle file) {
    struct stat info {};
    return fstat(Descriptor(file), &info) == 0 && S_ISREG(info.st_mode)
               ? static_cast<long long>(info.st_size)
               : -1;
}

std::size_t RealDiskInterface::ReadAt(FileHandle file, long long offset, char* data,
                                      std::size_t size) {
    const ssize_t read = Retried([&] { return pread(Descriptor(file), data, size, offset); });
    return read < 0 ? 0 : static_cast<std::size_t>(read);
}

std::size_t RealDiskInterface::Write(FileHandle file, const char* data, std::size_t size) {
    const ssize_t written = Retried([&] { return write(Descriptor(file), data, size); });
    return written < 0 ? 0 : static_cast<std::size_t>(written);
}

bool RealDiskInterface::Truncate(FileHandle file, long long size) {
    return Retried([&] { return ftruncate(Descriptor(file), static_cast<off_t>(size)); }) == 0;
}

// A pipe or a terminal has no storage to flush (EINVAL).
bool RealDiskInterface::Flush(FileHandle file) {
    return Retried([&] { return fsync(Descriptor(file)); }) == 0 || errno == EINVAL;
}

// A new name lives in its folder: without the folder's flush a power cut may
// take the file with its line on file systems that do not order the two.
bool RealDiskInterface::FlushFolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const int fd =
        Retried([&] { return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
        return false;
    }
    const bool flushed = Flush(fd);
    return close(fd) == 0 && flushed;
}

// An open file description lock (not flock, not a classic fcntl lock): it
// belongs to this open of the file, so no close of another descriptor of the
// file in this process drops it, and a second open in this process is
// refused it. It never meets flock(2), which a script's flock(1) takes, and
// it meets the classic fcntl lock Wine turns a Windows byte lock into, so
// stations of the Windows build under Wine and of this build exclude one
// another.
LockResult RealDiskInterface::TryLock(FileHandle file, long long offset) {
    if (SetByteLock(file, offset, F_WRLCK) == 0) {
        return LockResult::Taken;
    }
    return errno == EAGAIN || errno == EACCES || errno == EINTR ? LockResult::Busy
                                                                : LockResult::Unsupported;
}

void RealDiskInterface::Unlock(FileHandle file, long long offset) {
    SetByteLock(file, offset, F_UNLCK);
}

LockResult RealDiskInterface::TryLockFile(FileHandle file) {
    if (flock(Descriptor(file), LOCK_EX | LOCK_NB) == 0) {
        return LockResult::Taken;
    }
    return errno == EWOULDBLOCK || errno == EINTR ? LockResult::Busy : LockResult::Unsupported;
}

void RealDiskInterface::UnlockFile(FileHandle file) { flock(Descriptor(file), LOCK_UN); }

std::FILE* OpenReadStream(const std::string& path) {
    struct stat info {};
    const bool fifo = stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
    const int fd = Retried([&] {
        return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (fifo ? O_NONBLOCK : 0));
    });
    if (fd < 0) {
        return nullptr;
    }
    if (fifo) {
        fcntl(fd, F_SETFL, 0);
    }
    // glibc opens a folder for reading and only the first read fails
    // (EISDIR); it counts as a file that cannot be opened, as on Windows.
    std::FILE* stream =
        fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (stream == nullptr) {
        close(fd);
    }
    return stream;
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace ob310
