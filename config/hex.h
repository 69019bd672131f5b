// Hexadecimal text to bytes, pair by pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ob310 {

// The value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other
// byte. Independent of the locale, and defined for bytes above 0x7F.
int HexDigitValue(char c);

// Result of StringToBytes when the text ran out of digits before `out` was
// full; the bytes converted so far stay in `out`.
inline constexpr int StringToBytesDigitsRanOut = -1;
// Result of StringToBytes for a text with more pairs than `out` can take;
// nothing was written. The configuration reader shows it as
// "error StringToBytes".
inline constexpr int StringToBytesTooManyPairs = -2;

// Converts `text` into `n` bytes at `out`. Returns n when all n bytes were
// produced, 0 for a non-hex character (bytes before it stay written),
// StringToBytesTooManyPairs for a text with more than n pairs, and
// StringToBytesDigitsRanOut when the text is shorter than 2n - 1.
int StringToBytes(std::string text, std::uint8_t* out, std::size_t n);

}  // namespace ob310
