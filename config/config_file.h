// Reading an .ob310 configuration file into the process-wide ConfigImage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/pin.h"
#include "protocol/requests.h"

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

// The one image of this run, all zero at start; written only by ReadConfigFile.
extern ConfigImage configImage;

// 0: read and `configImage` filled; 8: the file cannot be opened; 256: its
// content is not acceptable, or it holds more than 16 MiB before its end.
// `fileName` is UTF-8 on Windows.
int ReadConfigFile(std::string fileName);
