#include "config/hex.h"

namespace ob310 {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

int StringToBytes(std::string text, std::uint8_t* out, std::size_t n) {
    // More pairs than `out` can take: refused before any digit is looked at.
    // A 2n + 1 character text still passes; its last character is never read.
    if (n < text.size() / 2) {
        return StringToBytesTooManyPairs;
    }
    if (n == 0) {
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t position = 2 * i;
        if (position >= text.size()) {
            return StringToBytesDigitsRanOut;
        }
        const int high = HexDigitValue(text[position]);
        if (high < 0) {
            return 0;
        }
        if (position + 1 == text.size()) {
            // A single last digit is the low nibble: "A" gives 0x0A.
            out[i] = static_cast<std::uint8_t>(high);
            continue;
        }
        const int low = HexDigitValue(text[position + 1]);
        if (low < 0) {
            return 0;  // out[i] stays as it was
        }
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return static_cast<int>(n);
}

}  // namespace ob310
