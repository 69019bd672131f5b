#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

TempDir::TempDir() {
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() /
                               ("ob310_test_" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code error;
    if (!path_.empty()) {
        std::filesystem::remove_all(path_, error);
    }
}

std::string TempDir::File(const std::string& name) const { return (path_ / name).string(); }

std::string ReadFileBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& fileName, const std::string& content) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out << content;
}
