// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
#pragma once

#include "tests/support/file_bytes.h"

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // The narrow name of `name` inside the folder (the file need not exist).
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};
