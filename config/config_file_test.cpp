#include "config/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "output/console.h"
#include "tests/support/config_lines.h"
#include "tests/support/temp_dir.h"

namespace ob310 {
namespace {

using enum ConfigReadResult;
ConfigImage configImage;  // the target of every read
const std::vector<std::string> Sample = ConfigDataLines(SampleConfigImage());
const std::string FileError = "\x1b[31mError in .ob310 file.. Code=0x0100\x1b[0m\n";

// Reads `text` as a file into an image of 0xEE bytes; prints only `output`,
// and closes the file (Windows: only then can TempDir remove it).
ConfigReadResult Read(const std::string& text, const std::string& output = "") {
    const auto descriptors = [] {  // Linux: this process's open files; elsewhere 0
        std::error_code error;
#ifndef __linux__
        return std::ptrdiff_t{0};
#endif
        auto entries = std::filesystem::directory_iterator("/proc/self/fd", error);
        return std::distance(begin(entries), end(entries));
    };
    TempDir dir;
    WriteFileBytes(dir.File("t.ob310"), text);
    std::memset(static_cast<void*>(&configImage), 0xEE, sizeof configImage);
    const auto before = descriptors();
    ConsoleCapture console;
    const ConfigReadResult result = ReadConfigFile(dir.File("t.ob310"), configImage, console);
    EXPECT_EQ(descriptors(), before);
    EXPECT_EQ(console.Text(), output);
    return result;
}

constexpr std::size_t NoLine = 999;

std::string With(std::size_t line, const std::string& text, std::size_t count = 256) {
    std::vector<std::string> lines(Sample.begin(), Sample.begin() + static_cast<long>(count));
    if (line < count)
        lines[line] = text;
    return ConfigFileText(lines);
}

bool ImageIs(const ConfigImage& expected) {
    return std::memcmp(&configImage, &expected, sizeof expected) == 0;
}

TEST(ConfigFile, AcceptedFilesReadIntoTheImage) {
    std::string comments =
        "# head\r\n\n\r\n";  // comments repeat their data line, so one taken as data shows
    for (std::size_t i = 0; i < 256; ++i) {
        const std::string after[] = {"#" + Sample[i], ":" + Sample[i], ";" + Sample[i], ""};
        comments += Sample[i] + "\n" + after[i % 4] + "\n";
    }
    std::string nul;
    for (char c : Sample[0])
        nul += {c, '\0'};
    const std::string piece = "#" + std::string(510, 'x');  // a whole piece, 511 bytes
    std::string lower = ConfigFileText(Sample);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    const std::pair<std::string, std::function<void(ConfigImage&)>> cases[] = {
        {ConfigFileText(Sample), {}},
        {ConfigFileText(Sample, "\r\n"), {}},
        {comments + "; tail without line end", {}},
        {ConfigFileText({Sample.begin(), Sample.end() - 1}) + "# last\n" + Sample[255], {}},
        {std::string(3, '\0') + "\n" + With(0, nul), {}},
        {ConfigFileText(Sample) + "\03200\n", {}},  // 0x1A ends the input
        {lower, {}},
        {With(8, Sample[8] + "Z"), {}},
        {With(6, piece + "01"), [](ConfigImage& i) { i.lockFlag = 1; }},  // two pieces
        {piece + "\r\n" + ConfigFileText(Sample), {}},                    // CR LF across pieces
        {With(7, Sample[7].substr(0, 63)), [](ConfigImage& i) { i.keyTables[0][31] >>= 4; }},
        {With(2, "0x"), [](ConfigImage& i) { i.ledMode = 0; }},
        {With(6, " 1"), [](ConfigImage& i) { i.lockFlag = 1; }},
        {With(6, "-1"), [](ConfigImage& i) { i.lockFlag = 0xFF; }},
        {With(255, "1FF"), [](ConfigImage& i) { i.debounce = 0xFF; }},
        {With(255, "-80000000"), [](ConfigImage& i) { i.debounce = 0; }},
        {With(255, " \v\f\r\t+0X2A and more"), [](ConfigImage& i) { i.debounce = 0x2A; }},
        {"\xEF\xBB\xBF" + ConfigFileText(Sample, "\r\n"), {}},  // a byte order mark (Notepad)
        {"\xEF\xBB\xBF" + piece + "\n" + ConfigFileText(Sample), {}},  // the mark takes no room
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ConfigImage expected = SampleConfigImage();
        if (cases[i].second)
            cases[i].second(expected);
        EXPECT_EQ(Read(cases[i].first), Success) << "case " << i;
        EXPECT_TRUE(ImageIs(expected)) << "case " << i;
    }
}

TEST(ConfigFile, RefusedFilesGive256AndKeepTheImage) {
    ConfigImage untouched;
    std::memset(static_cast<void*>(&untouched), 0xEE, sizeof untouched);
    std::string nonHex = Sample[130];
    nonHex[41] = 'g';
    const std::pair<std::string, std::string> cases[] = {
        {"# only a comment\n\n", FileError},
        {With(NoLine, "", 254) + "# note\n", FileError},
        {With(NoLine, "", 254) + " # note\n", ""},
        {With(NoLine, "", 255), ""},
        {ConfigFileText(Sample) + "05\n", ""},
        {With(NoLine, "", 255) + "\03205\n", ""},
        {With(6, "01\r\r"), ""},
        {With(130, nonHex), ""},
        {With(7, Sample[7] + "00"), "error StringToBytes\n"},
        {With(254, Sample[254].substr(0, 62)), ""},
        {With(2, "G1"), ""},
        {With(6, "x1"), ""},
        {With(6, "+-"), ""},
        {With(255, "80000000"), ""},
        {With(255, "-80000001"), ""},
        {With(255, "FFFFFFFFFFFFFFFFFFFF"), ""},
        {With(255, "- 1"), ""},
        {"\n\xEF\xBB\xBF" + ConfigFileText(Sample), ""},  // a mark only at the very start
    };
    for (const auto& [text, output] : cases) {
        EXPECT_EQ(Read(text, output), ContentError) << text.substr(0, 80);
        EXPECT_TRUE(ImageIs(untouched));
    }
    // Each header line: one character too many, one too few, a non-digit first.
    for (std::size_t line = 0; line < 7; ++line) {
        std::string nonDigit = Sample[line];
        nonDigit[0] = 'G';
        for (const std::string& text : {Sample[line] + "0", Sample[line].substr(1), nonDigit})
            EXPECT_EQ(Read(With(line, text)), ContentError) << line << " " << text;
    }
}

// At most 16 MiB of input: a valid file padded with empty lines to exactly
// 16 MiB reads; one byte more is refused, and so is an input without end.
TEST(ConfigFile, InputBeyond16MiBIsRefused) {
    std::string text = ConfigFileText(Sample);
    text.insert(0, (16u << 20) - text.size(), '\n');
    EXPECT_EQ(Read(text), Success);
    ASSERT_EQ(Read(text + "#"), ContentError);
#ifndef _WIN32
    ConsoleCapture console;
    EXPECT_EQ(ReadConfigFile("/dev/zero", configImage, console), ContentError);
#endif
}

TEST(ConfigFile, UnopenableFileGives8Silently) {
    TempDir dir;
    ConsoleCapture console;
    for (const std::string& name :
         {dir.File("missing.ob310"), dir.Path().string(), std::string()}) {
        EXPECT_EQ(ReadConfigFile(name, configImage, console), CannotOpen) << name;
    }
    EXPECT_EQ(console.Text(), "");
}

}  // namespace
}  // namespace ob310
