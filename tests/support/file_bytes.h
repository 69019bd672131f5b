// Whole files as bytes, in binary so line ends stay as written.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// Empty when the file cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}
