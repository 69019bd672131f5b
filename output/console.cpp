#include "output/console.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
std::string* captureTarget = nullptr;
}

void ConsoleWrite(std::string_view text) {
    if (captureTarget != nullptr) {
        captureTarget->append(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void ConsoleWriteLine(std::string_view text) {
    std::string line(text);
    line.push_back('\n');
    ConsoleWrite(line);
}

void PrepareConsole() {
#ifdef _WIN32
    // Windows 10 and later interpret ANSI colour sequences only when the
    // console's virtual-terminal processing is on. A redirected stdout has no
    // console mode, and the escape bytes go through unchanged.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
#endif
}

ConsoleCapture::ConsoleCapture() : previous_(captureTarget) { captureTarget = &text_; }

ConsoleCapture::~ConsoleCapture() { captureTarget = previous_; }
