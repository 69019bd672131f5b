#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <system_error>
#include <vector>

#include "output/disk_interface.h"
#include "output/native_text.h"

namespace ob310 {

namespace {

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

OVERLAPPED At(long long offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

bool IsRegularOrAbsent(const std::wstring& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    return type == std::filesystem::file_type::not_found ||
           type == std::filesystem::file_type::regular;
}

// The name the system opens for `path`: a device name (NUL, COM1, AUX, also
// with a folder or an extension, "aux.log") turns into "\\.\NAME".
std::wstring FullPath(const std::wstring& path) {
    std::vector<wchar_t> full(MAX_PATH);
    DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    return length < full.size() ? std::wstring(full.data(), length) : path;
}

}  // namespace

OpenedFile RealDiskInterface::Open(const std::string& path, FileUse use) {
    const std::wstring name = WideFromUtf8(path);
    const std::wstring full = FullPath(name);
    const bool nullDevice = _wcsicmp(full.c_str(), L"\\\\.\\NUL") == 0;
    // A device other than NUL keeps no record (a serial port, the console):
    // refused before it is opened. "\\.\pipe\..." is a pipe, not a device.
    const bool device = full.rfind(L"\\\\.\\", 0) == 0 && full.find(L'\\', 4) == std::wstring::npos;
    if (use != FileUse::Log ? !IsRegularOrAbsent(name) : device && !nullDevice) {
        return {};
    }
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (use == FileUse::Log) {
        // FILE_APPEND_DATA without FILE_WRITE_DATA: the system moves every
        // write to the end of the file at the moment it happens.
        // FILE_READ_DATA for the read back, and because Windows grants a byte
        // lock only to a handle with read or write access.
        access = FILE_APPEND_DATA | FILE_READ_DATA;
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    } else if (use == FileUse::Append) {
        access = FILE_APPEND_DATA | SYNCHRONIZE;
    }
    const HANDLE handle = CreateFileW(name.c_str(), access, share, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    OpenedFile opened{reinterpret_cast<FileHandle>(handle), GetLastError() != ERROR_ALREADY_EXISTS};
    if (GetFileType(handle) == FILE_TYPE_CHAR && !nullDevice) {
        CloseHandle(handle);
        return {};
    }
    return opened;
}

bool RealDiskInterface::Close(FileHandle file) { return CloseHandle(Handle(file)) != 0; }

bool RealDiskInterface::IsSameFile(FileHandle file, const std::string& path) {
    const HANDLE named = CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(Handle(file), &a) != 0 &&
                      GetFileInformationByHandle(named, &b) != 0 &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

long long RealDiskInterface::Size(FileHandle file) {
    LARGE_INTEGER size{};
    return GetFileType(Handle(file)) == FILE_TYPE_DISK && GetFileSizeEx(Handle(file), &size) != 0
               ? size.QuadPart
               : -1;
}

std::size_t RealDiskInterface::ReadAt(FileHandle file, long long offset, char* data,
                                      std::size_t size) {
    OVERLAPPED at = At(offset);
    DWORD read = 0;
    return ReadFile(Handle(file), data, static_cast<DWORD>(size), &read, &at) != 0 ? read : 0;
}

std::size_t RealDiskInterface::Write(FileHandle file, const char* data, std::size_t size) {
    DWORD written = 0;
    WriteFile(Handle(file), data, static_cast<DWORD>(size), &written, nullptr);
    return written;
}

// Cutting the file needs FILE_WRITE_DATA, which the log's own handle lacks
// (with it, writes would no longer go to the end by themselves): a second
// handle on the same file asks for it only here.
bool RealDiskInterface::Truncate(FileHandle file, long long size) {
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

// Only a disk file has storage to flush; a pipe or NUL has its line once it
// is written.
bool RealDiskInterface::Flush(FileHandle file) {
    return GetFileType(Handle(file)) != FILE_TYPE_DISK || FlushFileBuffers(Handle(file)) != 0;
}

// Windows lets only a process with backup rights open a folder for flushing;
// NTFS keeps its folders in its own journal.
bool RealDiskInterface::FlushFolderOf(const std::string&) { return true; }

LockResult RealDiskInterface::TryLock(FileHandle file, long long offset) {
    OVERLAPPED byte = At(offset);
    if (LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &byte) != 0) {
        return LockResult::Taken;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION ? LockResult::Busy : LockResult::Unsupported;
}

void RealDiskInterface::Unlock(FileHandle file, long long offset) {
    OVERLAPPED byte = At(offset);
    UnlockFileEx(Handle(file), 0, 1, 0, &byte);
}

LockResult RealDiskInterface::TryLockFile(FileHandle file) { return TryLock(file, 0); }

void RealDiskInterface::UnlockFile(FileHandle file) { Unlock(file, 0); }

std::FILE* OpenReadStream(const std::string& path) {
    // The C runtime refuses to open a folder at all.
    return _wfopen(WideFromUtf8(path).c_str(), L"rb");
}

std::tm LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::tm local{};
    local.tm_year = now.wYear - 1900;
    local.tm_mon = now.wMonth - 1;
    local.tm_mday = now.wDay;
    local.tm_hour = now.wHour;
    local.tm_min = now.wMinute;
    local.tm_sec = now.wSecond;
    local.tm_wday = now.wDayOfWeek;
    return local;
}

}  // namespace ob310
