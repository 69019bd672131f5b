#include "tests/support/scratch_file.h"

#include "tests/support/file_bytes.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

namespace {

std::string UniqueName() {
    static const auto processTag = std::random_device{}() ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    static unsigned counter = 0;
    return "ob310_scratch_" + std::to_string(processTag) + "_" + std::to_string(++counter) +
           ".ob310";
}

}  // namespace

ScratchFile::ScratchFile(std::string_view content)
    : path_((std::filesystem::temp_directory_path() / UniqueName()).string()) {
    WriteFileBytes(path_, std::string(content));
}

ScratchFile::~ScratchFile() { Remove(); }

bool ScratchFile::Remove() {
    std::error_code error;
    std::filesystem::remove(path_, error);
    return !error && !std::filesystem::exists(path_, error);
}
