// A file in the temporary directory that lives as long as the object.
#pragma once

#include <string>
#include <string_view>

class ScratchFile {
public:
    // Writes `content` byte for byte (no line-end translation) to a new file
    // with a name no other ScratchFile of any process uses.
    explicit ScratchFile(std::string_view content);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Path() const { return path_; }
    // Deletes the file now; false when it could not be deleted (on Windows,
    // while someone still holds it open).
    bool Remove();

private:
    std::string path_;
};
