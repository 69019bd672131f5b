#include "output/exit_code.h"

namespace ob310 {

int ProcessExitStatus(std::int32_t exitCode) {
#ifdef _WIN32
    return exitCode;
#else
    return exitCode > 255 ? 255 : exitCode;
#endif
}

}  // namespace ob310
