#pragma once

#include <cstdint>

namespace ob310 {

// The process exit status of one run: exactly one of these, never combined.
enum ExitCode : std::int32_t {
    ExitSuccess = 0,
    ExitNoDevice = 1,
    ExitTooManyDevices = 2,
    ExitReadWriteError = 4,
    ExitFileNotFound = 8,
    ExitArgumentError = 16,
    ExitCancel = 32,  // never returned
    ExitPinError = 64,
    ExitTimeout = 128,  // never returned
    ExitFileContentError = 256,
};

// The status the process exits with. Where only 8 bits of an exit status
// survive (POSIX), 256 would read as success, so it leaves as 255.
int ProcessExitStatus(std::int32_t exitCode);

}  // namespace ob310
