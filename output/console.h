// Standard output, the tool's only console stream. Every write is flushed.
#pragma once

#include <string>
#include <string_view>

// Writes `text` to standard output and flushes. Line ends are written as "\n";
// on Windows the runtime's text mode turns them into CR LF.
void ConsoleWrite(std::string_view text);
void ConsoleWriteLine(std::string_view text);

// On a Windows console, switches on ANSI escape processing so error lines are
// red. Elsewhere it does nothing.
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
