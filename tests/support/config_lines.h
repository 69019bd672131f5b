// Building the text of .ob310 files for tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"

// An image in which every field and every key-table record holds bytes of its
// own, so a byte read into the wrong place shows. lockFlag is 0 and debounce
// is 0x05.
ConfigImage SampleConfigImage();

// The 256 data lines that describe `image`, in file order, upper-case digits:
// the header lines 0 to 6, key-table records 0 to 247 on lines 7 to 254 and
// the debounce on line 255.
std::vector<std::string> ConfigDataLines(const ConfigImage& image);

// The lines joined into file text, each followed by `lineEnd`.
std::string ConfigFileText(const std::vector<std::string>& lines,
                           std::string_view lineEnd = "\n");

// `bytes` as upper-case hexadecimal digit pairs.
std::string HexText(const std::uint8_t* bytes, std::size_t count);
