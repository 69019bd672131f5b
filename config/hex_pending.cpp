// Interim StringToBytes and PrintError, to the contracts in config/hex.h and
// cli/messages.h. This file goes once their own sources are in place.
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/console.h"
#include "cli/messages.h"
#include "config/hex.h"

namespace {

int PendingHexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

int StringToBytes(std::string text, std::uint8_t* out, std::size_t n) {
    if (n < text.size() / 2) {
        ConsoleWriteLine("error StringToBytes");
        return 0;
    }
    if (n == 0) {
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t pos = 2 * i;
        if (pos >= text.size()) {
            return StringToBytesDigitsRanOut;
        }
        const int high = PendingHexValue(text[pos]);
        if (high < 0) {
            return 0;
        }
        if (pos + 1 == text.size()) {
            out[i] = static_cast<std::uint8_t>(high);
            continue;
        }
        const int low = PendingHexValue(text[pos + 1]);
        if (low < 0) {
            return 0;
        }
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return static_cast<int>(n);
}

void PrintError(const std::string& text, std::uint16_t code) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(code));
    ConsoleWrite("\x1b[31m" + text + ". Code=0x" + digits + "\x1b[0m\n");
}
