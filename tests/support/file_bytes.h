// Whole files as bytes, in binary so line ends stay as written.
#pragma once

#include <filesystem>
#include <string>

// Empty when the file cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& content);
