#include "output/native_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ob310 {

ProgramArguments::ProgramArguments(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        texts_.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    Point();
}

#ifdef _WIN32
ProgramArguments::ProgramArguments(int argc, wchar_t** argv) {
    for (int i = 0; i < argc; ++i) {
        texts_.push_back(argv[i] != nullptr ? Utf8FromWide(argv[i]) : std::string());
    }
    Point();
}
#endif

void ProgramArguments::Point() {
    for (const std::string& text : texts_) {
        pointers_.push_back(text.c_str());
    }
    pointers_.push_back(nullptr);
}

#ifdef _WIN32
std::string Utf8FromWide(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.pop_back();  // the terminating NUL
    return narrow;
}

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}
#endif

}  // namespace ob310
