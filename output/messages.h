// Error lines and informational lines on the console.
#pragma once

#include <cstdint>
#include <string>

#include "output/console.h"

namespace ob310 {

// Writes ESC "[31m", text, ". Code=0x", the code as four lower-case hex digits,
// ESC "[0m" and a line end to `console`. Always written.
void PrintError(OutputSink& console, const std::string& text, std::uint16_t code);

// Writes text, ". Code=0x0000" and a line end to `console`, only in verbose
// mode.
void PrintVerbose(OutputSink& console, bool verboseMode, const std::string& text);

}  // namespace ob310
