#include "tests/support/config_lines.h"

namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += "0123456789ABCDEF"[bytes[i] >> 4];
        text += "0123456789ABCDEF"[bytes[i] & 0x0F];
    }
    return text;
}

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& field) { return Hex(field.data(), N); }

}  // namespace

ConfigImage SampleConfigImage() {
    ConfigImage image;
    auto* const bytes = reinterpret_cast<std::uint8_t*>(&image);  // the image is bytes only, no padding
    for (std::size_t i = 0; i < sizeof image; ++i) bytes[i] = static_cast<std::uint8_t>(i * 29 + i / 251 + 1);
    image.ledMode = 0x03, image.lockFlag = 0x00, image.debounce = 0x05;
    return image;
}

std::vector<std::string> ConfigDataLines(const ConfigImage& image) {
    std::vector<std::string> lines = {Hex(image.newPin),    Hex(image.customData),   Hex(&image.ledMode, 1),
                                      Hex(image.mouseData), Hex(image.ledData),      Hex(image.ledParams),
                                      Hex(&image.lockFlag, 1)};
    for (const KeyTableRecord& record : image.keyTables) lines.push_back(Hex(record));
    lines.push_back(Hex(&image.debounce, 1));
    return lines;
}

std::string ConfigFileText(const std::vector<std::string>& lines, const std::string& lineEnd) {
    std::string text;
    for (const std::string& line : lines) text += line + lineEnd;
    return text;
}
