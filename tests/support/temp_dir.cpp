#include "tests/support/temp_dir.h"

#include <random>

TempDir::TempDir() {
    std::random_device random;
    std::error_code error;
    do {
        path_ = std::filesystem::temp_directory_path() / ("ob310_test_" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_, error) && !error);
}

TempDir::~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}
