#include "output/messages.h"

#include <array>
#include <cstdio>

#include "output/native_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
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
    // to the end of the file at the moment it happens.
    // FILE_READ_DATA only so that the handle may take the lock in WriteLine.
    const HANDLE handle =
        CreateFileW(WideFromUtf8(fileName).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    file = handle == INVALID_HANDLE_VALUE ? ClosedFile : reinterpret_cast<std::intptr_t>(handle);
#else
    file = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
#endif
    return true;
}

bool CLogFile::WriteLine(const std::string& line) {
    if (!IsOpen()) {
        return false;
    }
    // One write of the whole line: with append-only access the system places
    // it at the end in one piece. A short write counts as a failure.
    const std::string bytes = line + "\r\n";
#ifdef _WIN32
    // Windows appends a FILE_APPEND_DATA write at the end in one piece; Wine
    // emulates it with a seek and a write, where two stations can overwrite
    // each other. An exclusive lock on one byte far beyond any log's end
    // (writes at the end never touch it) serialises the stations' lines there.
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    OVERLAPPED farByte{};
    farByte.Offset = 0xFFFFFFFF;
    farByte.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &farByte) != 0;
    DWORD written = 0;
    const bool whole =
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
        written == bytes.size();
    if (locked) {
        UnlockFileEx(handle, 0, 1, 0, &farByte);
    }
    return whole;
#else
    ssize_t written = -1;
    do {
        written = write(static_cast<int>(file), bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
#endif
}

void CLogFile::Close() {
    if (file != ClosedFile) {
#ifdef _WIN32
        CloseHandle(reinterpret_cast<HANDLE>(file));
#else
        close(static_cast<int>(file));
#endif
        file = ClosedFile;
    }
}

}  // namespace ob310
