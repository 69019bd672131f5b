#include "output/messages.h"

#include <array>
#include <cstdio>

#include "output/console.h"
#include "output/settings.h"

Settings settings;
CLogFile logFile;

namespace {

// ". Code=0x" and the code as four lower-case hex digits.
std::string CodeSuffix(std::uint16_t code) {
    std::array<char, 16> digits{};
    std::snprintf(digits.data(), digits.size(), "%04x", static_cast<unsigned>(code));
    return std::string(". Code=0x") + digits.data();
}

}  // namespace

void PrintError(const std::string& text, std::uint16_t code) {
    ConsoleWriteLine("\x1b[31m" + text + CodeSuffix(code) + "\x1b[0m");
}

void PrintVerbose(const std::string& text) {
    if (!settings.verboseMode) {
        return;
    }
    ConsoleWriteLine(text + CodeSuffix(0));
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

bool WriteLogLine(const std::string& text) {
    if (!settings.logRequested || text.empty() || !logFile.IsOpen()) {
        return true;
    }
    return logFile.WriteLine(FormatLogTimeStamp(std::time(nullptr)) + ": " + text);
}

CLogFile::~CLogFile() { Close(); }

bool CLogFile::LogfileOpen(std::string name) {
    if (name.empty()) {
        ConsoleWriteLine("\x1b[0;31mError: LogfileOpen - No filename specified.\x1b[0m");
        return false;
    }
    // A second name replaces the first: close the first file so the new one
    // can be opened and the result line goes where the last -l said.
    Close();
    stream.clear();
    fileName = std::move(name);
    // Binary, so that the "\r\n" written by WriteLine reaches the file as
    // CR LF on every platform (Windows text mode would make it CR CR LF).
    // Append: earlier lines stay, every write goes to the end. The Windows
    // runtime opens files for shared reading and writing (no deny mode), so
    // other programs may read or append to the log while it is open here.
    stream.open(fileName, std::ios::out | std::ios::binary | std::ios::app);
    isOpen = true;
    return true;
}

bool CLogFile::IsUsable() const { return stream.is_open() && !stream.fail(); }

bool CLogFile::WriteLine(const std::string& line) {
    if (!IsUsable()) {
        return false;
    }
    stream << line << "\r\n";
    stream.flush();
    return !stream.fail();
}

void CLogFile::Close() {
    if (stream.is_open()) {
        stream.close();
    }
}

void CLogFile::Reset() {
    Close();
    stream.clear();
    fileName.clear();
    isOpen = false;
}
