// Standard output, the tool's only console stream. Every write is flushed.
#pragma once

#include <string>
#include <string_view>

// Writes `text` to standard output and flushes. Line ends are written as "\n";
// on Windows the runtime's text mode turns them into CR LF. Output that cannot
// be written (a closed pipe) is dropped: the console never decides a run.
void ConsoleWrite(std::string_view text);
void ConsoleWriteLine(std::string_view text);

// Called first by the programs. On a Windows console, switches on ANSI escape
// processing so error lines are red. On POSIX, ignores SIGPIPE and SIGXFSZ so
// a closed standard output only loses output and a file size limit only fails
// the write, and opens descriptors 0 to 2 on /dev/null when they are closed.
// Runs before the program opens anything.
void PrepareConsole();

// While alive, console output is appended to a string instead of stdout.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

private:
    std::string text_;
    std::string* previous_;
};
