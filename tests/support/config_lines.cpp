#include "tests/support/config_lines.h"

#include <cstdint>

namespace {

template <std::size_t N>
void FillFrom(std::array<std::uint8_t, N>& field, unsigned first) {
    for (std::size_t i = 0; i < N; ++i) {
        field[i] = static_cast<std::uint8_t>(first + i);
    }
}

template <std::size_t N>
std::string HexOf(const std::array<std::uint8_t, N>& field) {
    return HexText(field.data(), N);
}

}  // namespace

ConfigImage SampleConfigImage() {
    ConfigImage image;
    image.newPin = {0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46, 0x8A, 0xCE};
    FillFrom(image.customData, 0xC0);
    image.ledMode = 0x03;
    FillFrom(image.mouseData, 0x40);
    FillFrom(image.ledData, 0xD0);
    FillFrom(image.ledParams, 0x90);
    image.lockFlag = 0x00;
    image.debounce = 0x05;
    for (std::size_t r = 0; r < image.keyTables.size(); ++r) {
        for (std::size_t b = 0; b < KeyTableRecordSize; ++b) {
            image.keyTables[r][b] = static_cast<std::uint8_t>(r * 13 + b * 29 + 1);
        }
    }
    return image;
}

std::vector<std::string> ConfigDataLines(const ConfigImage& image) {
    std::vector<std::string> lines = {
        HexOf(image.newPin),    HexOf(image.customData),
        HexText(&image.ledMode, 1), HexOf(image.mouseData),
        HexOf(image.ledData),   HexOf(image.ledParams),
        HexText(&image.lockFlag, 1),
    };
    for (const KeyTableRecord& record : image.keyTables) {
        lines.push_back(HexOf(record));
    }
    lines.push_back(HexText(&image.debounce, 1));
    return lines;
}

std::string ConfigFileText(const std::vector<std::string>& lines, std::string_view lineEnd) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += lineEnd;
    }
    return text;
}

std::string HexText(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(Digits[bytes[i] >> 4]);
        text.push_back(Digits[bytes[i] & 0x0F]);
    }
    return text;
}
