// Reading an .ob310 configuration file into a ConfigImage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "output/console.h"
#include "protocol/pin.h"
#include "protocol/requests.h"

namespace ob310 {

struct ConfigImage {
    std::array<KeyTableRecord, KeyTableRecordCount> keyTables{};
    Pin newPin{};
    std::array<std::uint8_t, 16> customData{};
    std::uint8_t ledMode = 0;
    std::array<std::uint8_t, 16> mouseData{};  // the mouse request sends mouseData then ledData
    std::array<std::uint8_t, 16> ledData{};
    std::array<std::uint8_t, 8> ledParams{};
    std::uint8_t lockFlag = 0;
    std::uint8_t debounce = 0;
};

enum class ConfigReadResult {
    Success,       // `image` holds the file
    CannotOpen,    // the file cannot be opened (or is a directory)
    ContentError,  // not acceptable, or more than 16 MiB before its end
};

// Reads `fileName` (UTF-8 on Windows) into `image`, which changes only when
// the whole file was acceptable. The reader's own lines go to `console`: the
// red "Error in .ob310 file." (code 0x0100) for fewer than 255 data lines, and
// "error StringToBytes" for a key-table line of more than 32 pairs.
ConfigReadResult ReadConfigFile(const std::string& fileName, ConfigImage& image,
                                OutputSink& console);

}  // namespace ob310
