// Feeds each input to ReadConfigFile as the whole content of an .ob310 file.
// Besides the sanitizers' findings it traps on a broken contract: a file that
// exists gives 0 or 256, and a refused file leaves the image as it was.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>

#include "config/config_file.h"
#include "output/console.h"

using namespace ob310;

namespace {

// One scratch file per process, so parallel fuzzing jobs do not share it.
class ScratchPath {
public:
    ScratchPath()
        : path_((std::filesystem::temp_directory_path() /
                 ("ob310_config_fuzz_" + std::to_string(getpid()) + ".ob310"))
                    .string()) {}
    ~ScratchPath() { std::remove(path_.c_str()); }
    const std::string& Get() const { return path_; }

private:
    std::string path_;
};

static_assert(std::has_unique_object_representations_v<ConfigImage>,
              "ConfigImage is compared byte for byte");

bool IsAllZero(const ConfigImage& image) {
    static const ConfigImage zero{};
    return std::memcmp(&image, &zero, sizeof image) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchPath scratch;
    std::FILE* file = std::fopen(scratch.Get().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }

    ConfigImage image{};
    ConsoleCapture quiet;  // the reader's messages are not the fuzzer's output
    const ConfigReadResult result = ReadConfigFile(scratch.Get(), image, quiet);
    if (result == ConfigReadResult::CannotOpen) {
        __builtin_trap();
    }
    if (result == ConfigReadResult::ContentError && !IsAllZero(image)) {
        __builtin_trap();
    }
    return 0;
}
