// Building the text of .ob310 files for tests.
#pragma once

#include <string>
#include <vector>

#include "config/config_file.h"

// Every field and every key-table record holds bytes of its own, so a byte
// read into the wrong place shows. lockFlag is 0 and debounce is 0x05.
ConfigImage SampleConfigImage();
// The 256 data lines of `image` in file order, upper-case digits.
std::vector<std::string> ConfigDataLines(const ConfigImage& image);
// The lines joined into file text, each followed by `lineEnd`.
std::string ConfigFileText(const std::vector<std::string>& lines, const std::string& lineEnd = "\n");
