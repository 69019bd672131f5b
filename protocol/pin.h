#pragma once

#include <array>
#include <cstdint>

namespace ob310 {

// The 8-byte PIN that guards a device's configuration, in the order the 16
// hexadecimal digits give it (first pair first).
using Pin = std::array<std::uint8_t, 8>;

// The PIN a device holds after an erase: 5A3C19E7B2D40F86.
inline constexpr Pin FactoryDefaultPin = {0x5A, 0x3C, 0x19, 0xE7, 0xB2, 0xD4, 0x0F, 0x86};

}  // namespace ob310
