#include "tests/support/temp_dir.h"

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
