#include "config/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "output/console.h"
#include "tests/support/config_lines.h"
#include "tests/support/scratch_file.h"

namespace {

const std::string RedFileError = "\x1b[31mError in .ob310 file.. Code=0x0100\x1b[0m\n";

// Open descriptors of this process; a reader that leaks its file adds one.
std::size_t OpenDescriptorCount() {
#ifdef __linux__
    std::error_code error;
    auto entries = std::filesystem::directory_iterator("/proc/self/fd", error);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
#else
    return 0;
#endif
}

struct ReadOutcome {
    int result;
    std::string output;
    bool fileReleased;  // no descriptor left open, and (Windows) the file deletable
};

ReadOutcome ReadText(const std::string& text) {
    ScratchFile file(text);
    const std::size_t descriptorsBefore = OpenDescriptorCount();
    ConsoleCapture capture;
    const int result = ReadConfigFile(file.Path());
    const bool released = OpenDescriptorCount() == descriptorsBefore && file.Remove();
    return {result, capture.Text(), released};
}

std::vector<std::string> SampleLines() { return ConfigDataLines(SampleConfigImage()); }

std::vector<std::string> FirstLines(std::size_t count) {
    auto lines = SampleLines();
    lines.resize(count);
    return lines;
}

ConfigImage MarkerImage() {
    ConfigImage image;
    image.newPin.fill(0xEE);
    image.customData.fill(0xEE);
    image.ledMode = 0xEE;
    image.mouseData.fill(0xEE);
    image.ledData.fill(0xEE);
    image.ledParams.fill(0xEE);
    image.lockFlag = 0xEE;
    image.debounce = 0xEE;
    for (auto& record : image.keyTables) {
        record.fill(0xEE);
    }
    return image;
}

void ExpectImage(const ConfigImage& expected) {
    EXPECT_EQ(configImage.newPin, expected.newPin);
    EXPECT_EQ(configImage.customData, expected.customData);
    EXPECT_EQ(configImage.ledMode, expected.ledMode);
    EXPECT_EQ(configImage.mouseData, expected.mouseData);
    EXPECT_EQ(configImage.ledData, expected.ledData);
    EXPECT_EQ(configImage.ledParams, expected.ledParams);
    EXPECT_EQ(configImage.lockFlag, expected.lockFlag);
    EXPECT_EQ(configImage.debounce, expected.debounce);
    for (std::size_t r = 0; r < expected.keyTables.size(); ++r) {
        EXPECT_EQ(configImage.keyTables[r], expected.keyTables[r]) << "key-table record " << r;
    }
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override { configImage = ConfigImage{}; }
    void TearDown() override { configImage = ConfigImage{}; }
};

std::string WithNulBytes(const std::string& line) {
    std::string text;
    for (char c : line) {
        text.push_back(c);
        text.push_back('\0');
    }
    return text;
}

// ---- Files that read into the sample image (with the noted differences) ----

struct AcceptedCase {
    const char* name;
    std::function<std::string()> text;
    std::function<void(ConfigImage&)> differences;
};

const AcceptedCase AcceptedCases[] = {
    {"LfLineEnds", [] { return ConfigFileText(SampleLines()); }, {}},
    {"CrLfLineEnds", [] { return ConfigFileText(SampleLines(), "\r\n"); }, {}},
    {"CommentsAndEmptyLinesAnywhere",
     [] {
         // Comments repeat the data line they follow, so one counted as data
         // shifts every field after it.
         std::string text = "# head\r\n\n\r\n";
         const auto lines = SampleLines();
         for (std::size_t i = 0; i < lines.size(); ++i) {
             text += lines[i] + "\n";
             const char* marker[] = {"#", ":", ";", ""};
             text += std::string(marker[i % 4]) + (i % 4 == 3 ? "" : lines[i]) + "\n";
         }
         return text + "; tail without line end";
     },
     {}},
    {"LastLineWithoutLineEnd",
     [] {
         std::string text = ConfigFileText(FirstLines(255));
         return text + "# before the last line\n" + SampleLines()[255];
     },
     {}},
    {"NulBytesDroppedBeforeLengthCheck",
     [] {
         auto lines = SampleLines();
         lines[0] = WithNulBytes(lines[0]);
         lines[6] = std::string(1, '\0') + lines[6];
         lines[7] = WithNulBytes(lines[7]);
         lines.insert(lines.begin() + 3, std::string(3, '\0'));  // empty once cleaned
         return ConfigFileText(lines);
     },
     {}},
    {"EndMarkEndsInput",
     [] { return ConfigFileText(SampleLines()) + "\x1a" + "00\n11\n22\n"; }, {}},
    {"LowerCaseDigits",
     [] {
         std::string text = ConfigFileText(SampleLines());
         std::transform(text.begin(), text.end(), text.begin(),
                        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
         return text;
     },
     {}},
    {"LongLineReadAsTwoPieces",
     [] {
         // 511 bytes of comment, then the rest of the same physical line.
         auto lines = SampleLines();
         lines[6] = "#" + std::string(510, 'x') + "01";
         return ConfigFileText(lines);
     },
     [](ConfigImage& image) { image.lockFlag = 1; }},
    {"CrLfAfterFullPieceIsOneLineEnd",
     [] {
         auto lines = SampleLines();
         lines.insert(lines.begin(), "#" + std::string(510, 'x'));
         return ConfigFileText(lines, "\r\n");
     },
     {}},
    {"KeyTableLinesOf63And65Characters",
     [] {
         auto lines = SampleLines();
         lines[7].pop_back();
         lines[8] += "Z";
         return ConfigFileText(lines);
     },
     [](ConfigImage& image) { image.keyTables[0][31] >>= 4; }},
};

void PrintTo(const AcceptedCase& c, std::ostream* out) { *out << c.name; }

class AcceptedFileTest : public ConfigFileTest,
                         public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedFileTest, ReadsIntoImage) {
    ConfigImage expected = SampleConfigImage();
    if (GetParam().differences) {
        GetParam().differences(expected);
    }
    const ReadOutcome outcome = ReadText(GetParam().text());
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.output, "");
    EXPECT_TRUE(outcome.fileReleased);
    ExpectImage(expected);
}

INSTANTIATE_TEST_SUITE_P(Files, AcceptedFileTest, ::testing::ValuesIn(AcceptedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigFileTest, FieldsTakeTheirLinesBytesInOrder) {
    auto lines = SampleLines();
    lines[0] = "0123456789abcdef";
    lines[7] = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
    lines[248] = "F1" + std::string(62, '0');
    lines[254] = std::string(62, '0') + "F7";
    ASSERT_EQ(ReadText(ConfigFileText(lines)).result, 0);
    EXPECT_EQ(configImage.newPin, (Pin{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    for (std::size_t b = 0; b < KeyTableRecordSize; ++b) {
        EXPECT_EQ(configImage.keyTables[0][b], b);
    }
    EXPECT_EQ(configImage.keyTables[241][0], 0xF1);
    EXPECT_EQ(configImage.keyTables[247][31], 0xF7);
    EXPECT_EQ(configImage.keyTables[247][30], 0x00);
}

// ---- Files refused with 256, the image left as it was ----

struct RefusedCase {
    const char* name;
    std::function<std::string()> text;
    std::string output;
};

std::string SampleWith(std::size_t line, const std::string& text) {
    auto lines = SampleLines();
    lines[line] = text;
    return ConfigFileText(lines);
}

const RefusedCase RefusedCases[] = {
    {"NoDataLines", [] { return std::string("# only a comment\n\n"); }, RedFileError},
    {"254DataLines", [] { return ConfigFileText(FirstLines(254)); }, RedFileError},
    {"254DataLinesAndAComment",
     [] { return ConfigFileText(FirstLines(254)) + "# note\n"; }, RedFileError},
    {"BlankBeforeHashMakesDataLine",
     [] { return ConfigFileText(FirstLines(254)) + " # note\n"; }, ""},
    {"255DataLinesNoDebounce", [] { return ConfigFileText(FirstLines(255)); }, ""},
    {"257DataLines", [] { return ConfigFileText(SampleLines()) + "05\n"; }, ""},
    {"EndMarkBeforeDebounceLine",
     [] { return ConfigFileText(FirstLines(255)) + "\x1a" + "05\n"; }, ""},
    {"HeaderLineWithTrailingBlank", [] { return SampleWith(0, SampleLines()[0] + " "); }, ""},
    {"LoneCrStaysInLine", [] { return SampleWith(6, "01\r\r"); }, ""},
    {"KeyTableLineOf66Characters",
     [] { return SampleWith(7, SampleLines()[7] + "00"); }, "error StringToBytes\n"},
    {"KeyTableLineOf62Characters",
     [] { return SampleWith(254, SampleLines()[254].substr(0, 62)); }, ""},
    {"KeyTableLineWithNonHexCharacter",
     [] {
         std::string line = SampleLines()[130];
         line[41] = 'g';
         return SampleWith(130, line);
     },
     ""},
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class RefusedFileTest : public ConfigFileTest,
                        public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedFileTest, Gives256AndKeepsImage) {
    configImage = MarkerImage();
    const ReadOutcome outcome = ReadText(GetParam().text());
    EXPECT_EQ(outcome.result, 256);
    EXPECT_EQ(outcome.output, GetParam().output);
    EXPECT_TRUE(outcome.fileReleased);
    ExpectImage(MarkerImage());
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedFileTest, ::testing::ValuesIn(RefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every header line refuses one character too many, one too few, and a
// character where a digit is read.
class HeaderLineTest : public ConfigFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(HeaderLineTest, RefusesWrongLengthAndNonHexCharacter) {
    const std::string line = SampleLines()[static_cast<std::size_t>(GetParam())];
    std::string nonHex = line;
    nonHex[0] = 'G';
    for (const std::string& text : {line + "0", line.substr(0, line.size() - 1), nonHex}) {
        const ReadOutcome outcome = ReadText(SampleWith(static_cast<std::size_t>(GetParam()), text));
        EXPECT_EQ(outcome.result, 256) << "line text \"" << text << "\"";
        EXPECT_EQ(outcome.output, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, HeaderLineTest, ::testing::Range(0, 7));

// ---- Number lines: LED mode (2), lock flag (6), debounce (255) ----

struct NumberCase {
    std::size_t line;
    const char* text;
    int result;
    std::uint8_t value;
};

std::ostream& operator<<(std::ostream& out, const NumberCase& c) {
    out << "line " << c.line << " \"";
    for (const char* p = c.text; *p != '\0'; ++p) {
        if (std::isprint(static_cast<unsigned char>(*p))) {
            out << *p;
        } else {
            static constexpr char Digits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(*p);
            out << "\\x" << Digits[byte >> 4] << Digits[byte & 0x0F];
        }
    }
    return out << "\"";
}

const NumberCase NumberCases[] = {
    {2, "1F", 0, 0x1F},
    {2, "0x", 0, 0x00},
    {2, "G1", 256, 0},
    {6, "01", 0, 0x01},
    {6, " 1", 0, 0x01},
    {6, "\t1", 0, 0x01},
    {6, "1 ", 0, 0x01},
    {6, "02", 0, 0x02},
    {6, "00", 0, 0x00},
    {6, "-1", 0, 0xFF},
    {6, "+1", 0, 0x01},
    {6, "x1", 256, 0},
    {6, "  ", 256, 0},
    {6, "+-", 256, 0},
    {255, "100", 0, 0x00},
    {255, "-1", 0, 0xFF},
    {255, "1FF", 0, 0xFF},
    {255, "7FFFFFFF", 0, 0xFF},
    {255, "80000000", 256, 0},
    {255, "-80000000", 0, 0x00},
    {255, "-80000001", 256, 0},
    {255, "FFFFFFFFFFFFFFFFFFFF", 256, 0},
    {255, "00000000000000000012", 0, 0x12},
    {255, "0x1f", 0, 0x1F},
    {255, "+0X10", 0, 0x10},
    {255, "0xg", 0, 0x00},
    {255, " \v\f\r\t2A and the rest", 0, 0x2A},
    {255, "\r5", 0, 0x05},
    {255, "-", 256, 0},
    {255, "- 1", 256, 0},
    {255, "zz", 256, 0},
};

class NumberLineTest : public ConfigFileTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberLineTest, ReadsBase16Number) {
    const NumberCase& c = GetParam();
    const ReadOutcome outcome = ReadText(SampleWith(c.line, c.text));
    ASSERT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.output, "");
    if (c.result == 0) {
        const std::uint8_t read = c.line == 2   ? configImage.ledMode
                                  : c.line == 6 ? configImage.lockFlag
                                                : configImage.debounce;
        EXPECT_EQ(read, c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, NumberLineTest, ::testing::ValuesIn(NumberCases));

// At most 16 MiB of input: a valid file padded with empty lines to exactly
// 16 MiB reads; one byte more is refused, and so is an input without end.
TEST_F(ConfigFileTest, InputBeyond16MiBIsRefused) {
    std::string text = ConfigFileText(SampleLines());
    text.insert(0, (16u << 20) - text.size(), '\n');
    EXPECT_EQ(ReadText(text).result, 0);
    ASSERT_EQ(ReadText(text + "#").result, 256);
#ifndef _WIN32
    EXPECT_EQ(ReadConfigFile("/dev/zero"), 256);
#endif
}

// ---- Files that cannot be opened ----

TEST_F(ConfigFileTest, UnopenableFileGives8Silently) {
    const auto missing = std::filesystem::temp_directory_path() / "ob310_no_such_file.ob310";
    const std::string names[] = {missing.string(),
                                 std::filesystem::temp_directory_path().string(), ""};
    for (const std::string& name : names) {
        configImage = MarkerImage();
        ConsoleCapture capture;
        EXPECT_EQ(ReadConfigFile(name), 8) << "\"" << name << "\"";
        EXPECT_EQ(capture.Text(), "");
        ExpectImage(MarkerImage());
    }
}

}  // namespace
