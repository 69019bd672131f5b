#include "output/messages.h"

#include <array>
#include <cstdio>

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

}  // namespace ob310
