// Error lines, informational lines and the log file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Writes ESC "[31m", text, ". Code=0x", the code as four lower-case hex digits,
// ESC "[0m" and a line end. Always written.
void PrintError(const std::string& text, std::uint16_t code);

// Writes text, ". Code=0x0000" and a line end, only in verbose mode.
void PrintVerbose(const std::string& text);

// Appends "<dd.mm.yyyy HH:MM:SS>: text" CR LF to the log file when logging is
// on, the text is not empty and the log is open. Returns false only when such
// a line was due and could not be written.
bool WriteLogLine(const std::string& text);

// "%d.%m.%Y %H:%M:%S" of `when` in local time; empty when formatting fails.
std::string FormatLogTimeStamp(std::time_t when);

// The log file. One process-wide instance, `logFile`. It is opened for
// appending only (POSIX O_APPEND; Windows FILE_APPEND_DATA without
// FILE_WRITE_DATA), shared for reading, writing and deleting, and every line
// goes out in one write: the system puts each line at the end of the file
// whole, so stations sharing one log never overwrite each other's lines
// (Windows: under a lock too, see WriteLine).
class CLogFile {
public:
    CLogFile() = default;
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;
    virtual ~CLogFile();

    // Opens `fileName` (UTF-8) for appending, created when missing. An empty
    // name prints the red "Error: LogfileOpen - No filename specified." line
    // and returns false. A log already open is closed first, so the last name
    // wins.
    bool LogfileOpen(std::string fileName);
    // True when the file is open.
    bool IsUsable() const { return file != ClosedFile; }
    bool IsOpen() const { return isOpen; }
    // Appends one line and CR LF in one write; false when it failed.
    bool WriteLine(const std::string& line);
    void Close();
    // Back to the state at process start (file closed, no name).
    void Reset();

    std::string fileName;

private:
    static constexpr std::intptr_t ClosedFile = -1;
    std::intptr_t file = ClosedFile;  // a POSIX descriptor or a Windows HANDLE
    bool isOpen = false;
};

extern CLogFile logFile;
