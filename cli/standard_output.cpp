#include "cli/standard_output.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>

#include <cerrno>
#include <csignal>
#endif

namespace ob310 {

void StandardOutput::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void StandardError::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
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
#else
    // A reader that goes away (| head, grep -q) must not end the run: the
    // default SIGPIPE would kill it before its log line and its exit code.
    // Ignored, a write to the closed pipe fails and is dropped.
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) reached at the log write would kill the
    // run after the device was programmed; ignored, the write fails and the
    // run ends with "Can not write logfile".
    std::signal(SIGXFSZ, SIG_IGN);
    // A descriptor 0 to 2 that the caller left closed would be taken by the
    // next file opened, the log, and console output would land in the log.
    // Each such descriptor is opened on /dev/null first.
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            open("/dev/null", O_RDWR);  // takes the lowest free descriptor: this one
        }
    }
#endif
}

}  // namespace ob310
