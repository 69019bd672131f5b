#include "config/config_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "config/hex.h"
#include "output/messages.h"
#include "output/native_text.h"

namespace ob310 {

namespace {

// A file is read in pieces the size of a 512-byte line buffer with its
// terminating NUL: a longer physical line arrives as several pieces, and each
// piece counts as a line of its own.
constexpr std::size_t PieceLimit = 511;
// Data lines 0 to 255 are all the file may hold.
constexpr std::size_t DataLineCapacity = 256;
// Seven header lines and 248 key-table lines; the debounce line follows.
constexpr std::size_t MinimumDataLines = 255;
constexpr std::size_t FirstKeyTableLine = 7;
constexpr std::size_t DebounceLine = 255;

constexpr int EndOfFileMark = 0x1A;

// A configuration file is small text (about 20 KB). Reading stops after this
// many bytes, so an input that never ends (/dev/zero, an endless pipe) ends
// the run as a content error instead of reading for ever: NUL bytes and empty
// lines are dropped, so such an input never brings a data line.
constexpr std::size_t MaxInputBytes = 16 * 1024 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Cuts a file opened in binary mode into pieces, reading its bytes as the
// Windows runtime's text mode would: CR LF becomes LF, a CR without LF after
// it stays, and 0x1A ends the input. Doing it here makes a file read the same
// on every platform. The CR LF pair is joined before the file is cut, so a
// pair that straddles a piece boundary is still one LF.
class PieceReader {
public:
    explicit PieceReader(std::FILE* file) : file_(file) {}

    // Reads one piece: up to and including the first LF, at most PieceLimit
    // bytes. `text` receives the piece without its LF and without NUL bytes.
    // False when the input had ended before the piece began, or when it goes
    // on beyond MaxInputBytes (then TooLarge()).
    bool Next(std::string& text) {
        text.clear();
        std::size_t count = 0;
        while (count < PieceLimit && Available()) {
            // Ordinary bytes are taken as a run; the file is read in blocks
            // because a locked getc per byte made reading several times slower.
            const char* run = block_.data() + position_;
            const std::size_t limit = std::min(filled_ - position_, PieceLimit - count);
            std::size_t length = 0;
            while (length < limit && !IsSpecial(run[length])) {
                ++length;
            }
            text.append(run, length);
            position_ += length;
            count += length;
            if (length == limit) {
                continue;
            }
            const char c = block_[position_];
            if (c == static_cast<char>(EndOfFileMark)) {
                ended_ = true;
                break;
            }
            ++position_;
            ++count;
            if (c == '\n') {
                break;
            }
            if (c == '\r') {
                if (Available() && block_[position_] == '\n') {
                    ++position_;
                    break;
                }
                text.push_back('\r');
            }
            // A NUL byte counts towards the piece but is dropped.
        }
        return count > 0 && !tooLarge_;
    }

    // The input held more than MaxInputBytes bytes before its end (the end of
    // the file or the 0x1A mark); the bytes up to the bound were read.
    bool TooLarge() const { return tooLarge_; }

    // Steps over a UTF-8 byte order mark at the very start of the input: it
    // carries nothing in this format, and Notepad writes one. Called before
    // the first piece; the first block holds the whole mark when it is there.
    void SkipByteOrderMark() {
        constexpr std::string_view Mark = "\xEF\xBB\xBF";
        if (Available() &&
            std::string_view(block_.data() + position_, filled_ - position_).starts_with(Mark)) {
            position_ += Mark.size();
        }
    }

private:
    static bool IsSpecial(char c) {
        return c == '\n' || c == '\r' || c == '\0' || c == static_cast<char>(EndOfFileMark);
    }

    // True while unread bytes remain; a read error ends the input like the
    // end of the file.
    bool Available() {
        if (position_ < filled_) {
            return true;
        }
        if (ended_) {
            return false;
        }
        consumed_ += filled_;
        position_ = 0;
        if (consumed_ == MaxInputBytes) {
            // One byte more only tells whether the input goes on.
            tooLarge_ = std::fread(block_.data(), 1, 1, file_) == 1 &&
                        block_[0] != static_cast<char>(EndOfFileMark);
            ended_ = true;
            filled_ = 0;
            return false;
        }
        filled_ =
            std::fread(block_.data(), 1, std::min(block_.size(), MaxInputBytes - consumed_), file_);
        ended_ = filled_ == 0;
        return !ended_;
    }

    std::FILE* file_;
    std::array<char, 8192> block_{};
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    std::size_t consumed_ = 0;  // bytes of the blocks before this one
    bool ended_ = false;
    bool tooLarge_ = false;
};

bool IsCommentMarker(char c) { return c == '#' || c == ':' || c == ';'; }

// Stores the data lines, up to one past the capacity: one line more is
// already a content error, so the rest of the file does not matter. False
// when the input is larger than MaxInputBytes.
bool ReadDataLines(std::FILE* file, std::vector<std::string>& lines) {
    PieceReader input(file);
    input.SkipByteOrderMark();
    std::string piece;
    while (lines.size() <= DataLineCapacity && input.Next(piece)) {
        if (piece.empty() || IsCommentMarker(piece.front())) {
            continue;
        }
        lines.push_back(piece);
    }
    return !input.TooLarge();
}

bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

bool IsNumberSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

// Reads `text` as strtol does with base 16 and a 32-bit long: white space,
// one sign, an optional 0x or 0X, then hexadecimal digits up to the first
// other character, which ends the number. Stores the low 8 bits of the value
// (two's complement for a negative one). False when no digit was read or the
// value lies outside the 32-bit signed range.
bool ReadBase16Number(const std::string& text, std::uint8_t& lowByte) {
    std::size_t pos = 0;
    while (pos < text.size() && IsNumberSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // "0x" counts as a prefix only when a digit follows; otherwise the 0 is
    // the number and the x the first character after it.
    if (pos + 2 < text.size() && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X') && IsHexDigit(text[pos + 2])) {
        pos += 2;
    }
    constexpr std::uint64_t Saturated = 0x1'0000'0000;
    std::uint64_t magnitude = 0;
    std::size_t digits = 0;
    for (; pos < text.size() && IsHexDigit(text[pos]); ++pos, ++digits) {
        magnitude = magnitude * 16 + static_cast<std::uint64_t>(HexDigitValue(text[pos]));
        if (magnitude > Saturated) {
            magnitude = Saturated;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (magnitude > (negative ? 0x8000'0000u : 0x7FFF'FFFFu)) {
        return false;
    }
    const std::int64_t value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    lowByte = static_cast<std::uint8_t>(value & 0xFF);
    return true;
}

// A header field: exactly `length` characters, every one a digit that converts.
bool ConvertHexField(const std::string& line, std::size_t length, std::uint8_t* out,
                     std::size_t n) {
    return line.size() == length && StringToBytes(line, out, n) == static_cast<int>(n);
}

// A two-character header line read as a base-16 number.
bool ConvertNumberField(const std::string& line, std::uint8_t& out) {
    return line.size() == 2 && ReadBase16Number(line, out);
}

// Builds the whole image from the data lines; false at the first field that
// is not acceptable.
bool ConvertDataLines(const std::vector<std::string>& lines, ConfigImage& image,
                      OutputSink& console) {
    if (!ConvertHexField(lines[0], 16, image.newPin.data(), image.newPin.size()) ||
        !ConvertHexField(lines[1], 32, image.customData.data(), image.customData.size()) ||
        !ConvertNumberField(lines[2], image.ledMode) ||
        !ConvertHexField(lines[3], 32, image.mouseData.data(), image.mouseData.size()) ||
        !ConvertHexField(lines[4], 32, image.ledData.data(), image.ledData.size()) ||
        !ConvertHexField(lines[5], 16, image.ledParams.data(), image.ledParams.size()) ||
        !ConvertNumberField(lines[6], image.lockFlag)) {
        return false;
    }
    // Key-table lines have no length check of their own: 63 characters fill
    // a record (the last byte from one digit) and a 65th is never looked at.
    // Anything that leaves the record short is refused, so no record is ever
    // programmed with zeros the file did not hold.
    for (std::size_t r = 0; r < image.keyTables.size(); ++r) {
        KeyTableRecord record{};
        const int converted =
            StringToBytes(lines[FirstKeyTableLine + r], record.data(), record.size());
        if (converted == StringToBytesTooManyPairs) {
            console.WriteLine("error StringToBytes");
        }
        if (converted != static_cast<int>(record.size())) {
            return false;
        }
        image.keyTables[r] = record;
    }
    return ReadBase16Number(lines[DebounceLine], image.debounce);
}

bool IsDirectory(std::FILE* file) {
#ifdef _WIN32
    // The Windows runtime refuses to open a directory at all.
    (void)file;
    return false;
#else
    // glibc opens a directory for reading and only the first read fails
    // (EISDIR); it is treated as a file that cannot be opened, as on Windows.
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

#ifndef _WIN32
// A FIFO that nobody writes to would hold a plain open for ever; opened
// without blocking it reads as empty. A pipe with a writer (-f <(...)) is
// then read with blocking reads as usual.
std::FILE* OpenWithoutBlocking(const std::string& fileName) {
    const int descriptor = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return nullptr;
    }
    fcntl(descriptor, F_SETFL, 0);
    std::FILE* file = fdopen(descriptor, "rb");
    if (file == nullptr) {
        close(descriptor);
    }
    return file;
}
#endif

ConfigReadResult ReadConfigFileUnguarded(const std::string& fileName, ConfigImage& target,
                                         OutputSink& console) {
    std::vector<std::string> lines;
    {
#ifdef _WIN32
        const FileHandle file(_wfopen(WideFromUtf8(fileName).c_str(), L"rb"));
#else
        const FileHandle file(OpenWithoutBlocking(fileName));
#endif
        if (file == nullptr || IsDirectory(file.get())) {
            return ConfigReadResult::CannotOpen;
        }
        if (!ReadDataLines(file.get(), lines)) {
            return ConfigReadResult::ContentError;
        }
    }
    if (lines.size() < MinimumDataLines) {
        // The code of the line is that of the file content error (256).
        PrintError(console, "Error in .ob310 file.", 0x0100);
        return ConfigReadResult::ContentError;
    }
    if (lines.size() != DataLineCapacity) {
        // 255 lines lack the debounce line; more than 256 hold lines that
        // would never be programmed.
        return ConfigReadResult::ContentError;
    }
    // The image changes only when the whole file was acceptable.
    auto image = std::make_unique<ConfigImage>();
    if (!ConvertDataLines(lines, *image, console)) {
        return ConfigReadResult::ContentError;
    }
    target = *image;
    return ConfigReadResult::Success;
}

}  // namespace

ConfigReadResult ReadConfigFile(const std::string& fileName, ConfigImage& image,
                                OutputSink& console) {
    try {
        return ReadConfigFileUnguarded(fileName, image, console);
    } catch (...) {
        // Only an allocation can fail here; the run ends as for a file that
        // cannot be taken.
        return ConfigReadResult::ContentError;
    }
}

}  // namespace ob310
