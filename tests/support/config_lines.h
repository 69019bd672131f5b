// Building the text of .ob310 files for tests.
#pragma once

#include <string>
#include <vector>

#include "config/config_file.h"

namespace ob310 {
// Every byte differs from its neighbours, so a byte read into the wrong place
// shows. LED mode 03, lock flag 00, debounce 05.
inline ConfigImage SampleConfigImage() {
    ConfigImage image;
    auto* const bytes =
        reinterpret_cast<std::uint8_t*>(&image);  // the image is bytes only, no padding
    for (std::size_t i = 0; i < sizeof image; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 29 + i / 251 + 1);
    image.ledMode = 0x03, image.lockFlag = 0x00, image.debounce = 0x05;
    return image;
}

// The 256 data lines of `image` in file order, upper-case digits.
inline std::vector<std::string> ConfigDataLines(const ConfigImage& image) {
    const auto hex = [](const std::uint8_t* bytes, std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += {"0123456789ABCDEF"[bytes[i] >> 4], "0123456789ABCDEF"[bytes[i] & 15]};
        return text;
    };
    std::vector<std::string> lines = {
        hex(image.newPin.data(), 8),   hex(image.customData.data(), 16),
        hex(&image.ledMode, 1),        hex(image.mouseData.data(), 16),
        hex(image.ledData.data(), 16), hex(image.ledParams.data(), 8),
        hex(&image.lockFlag, 1)};
    for (const KeyTableRecord& record : image.keyTables)
        lines.push_back(hex(record.data(), record.size()));
    lines.push_back(hex(&image.debounce, 1));
    return lines;
}

// The lines joined into file text, each followed by `lineEnd`.
inline std::string ConfigFileText(const std::vector<std::string>& lines,
                                  const std::string& lineEnd = "\n") {
    std::string text;
    for (const std::string& line : lines)
        text += line + lineEnd;
    return text;
}
}  // namespace ob310
