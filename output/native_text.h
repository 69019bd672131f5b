// Names as the operating system takes them. The tool keeps every name as
// narrow UTF-8 text; on Windows the command line arrives as UTF-16 and names
// go back to the system as UTF-16, so a name in any language survives
// whatever ANSI code page the system runs with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ob310 {

// The program's arguments, argv[0] first. POSIX: argv as given. Windows: the
// wide argv of wmain (the runtime splits the UTF-16 command line) converted
// to UTF-8; the narrow argv holds only what the ANSI code page can show, "?"
// for the rest.
class ProgramArguments {
public:
    ProgramArguments(int argc, char** argv);
#ifdef _WIN32
    ProgramArguments(int argc, wchar_t** argv);
#endif
    int Count() const { return static_cast<int>(pointers_.size()) - 1; }
    const char* const* Values() const { return pointers_.data(); }

private:
    void Point();

    std::vector<std::string> texts_;
    std::vector<const char*> pointers_;  // ends with nullptr, as argv does
};

#ifdef _WIN32
// UTF-8 to UTF-16 for the system's wide functions; invalid bytes become
// U+FFFD, so such a name is not found rather than taken for another.
std::wstring WideFromUtf8(std::string_view text);
// UTF-16 from the system (a NUL-terminated text) to UTF-8.
std::string Utf8FromWide(const wchar_t* text);
#endif

}  // namespace ob310
