// Hexadecimal text to bytes, pair by pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Result of StringToBytes when the text ran out of digits before `out` was
// full; the bytes converted so far stay in `out`.
inline constexpr int StringToBytesDigitsRanOut = -1;

// Converts `text` into `n` bytes at `out`. Returns n when all n bytes were
// produced, 0 for a non-hex character (bytes before it stay written) or for a
// text with more than n pairs (prints "error StringToBytes", writes nothing),
// and StringToBytesDigitsRanOut when the text is shorter than 2n - 1.
int StringToBytes(std::string text, std::uint8_t* out, std::size_t n);
