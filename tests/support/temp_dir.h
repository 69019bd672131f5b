// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
#pragma once

#include <random>

#include "tests/support/file_bytes.h"

class TempDir {
public:
    TempDir() {
        std::random_device random;
        std::error_code error;
        do {
            path_ =
                std::filesystem::temp_directory_path() / ("ob310_test_" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path_, error) && !error);
    }
    ~TempDir() { std::filesystem::remove_all(path_, error_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // The narrow name of `name` inside the folder (the file need not exist).
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
    std::error_code error_;
};
