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
    std::uint8_t* const fields[] = {image.newPin.data(), image.customData.data(), image.mouseData.data(),
                                    image.ledData.data(), image.ledParams.data()};
    const std::size_t sizes[] = {8, 16, 16, 16, 8};
    for (std::size_t f = 0; f < 5; ++f) {
        for (std::size_t i = 0; i < sizes[f]; ++i) fields[f][i] = static_cast<std::uint8_t>(0x13 + 0x30 * f + i);
    }
    image.ledMode = 0x03;
    image.debounce = 0x05;
    for (std::size_t r = 0; r < image.keyTables.size(); ++r) {
        for (std::size_t b = 0; b < KeyTableRecordSize; ++b) image.keyTables[r][b] = static_cast<std::uint8_t>(r * 13 + b * 29 + 1);
    }
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
