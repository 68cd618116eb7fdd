#include "command_line.h"

#ifdef _WIN32
#include <windows.h>
#endif

std::filesystem::path path_from_argument(const std::string& utf8) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return std::filesystem::path(utf8);  // POSIX paths are bytes: keep them as given
#endif
}

#ifdef _WIN32
std::string utf8_from_wide(const wchar_t* text) {
    const int wide_length = static_cast<int>(wcslen(text));
    if (wide_length == 0) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wide_length, out.data(), length, nullptr, nullptr);
    return out;
}

std::vector<std::string> utf8_arguments(int argc, wchar_t** argv) {
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) out.push_back(utf8_from_wide(argv[i]));
    return out;
}

Utf8Console::Utf8Console() : previous_(GetConsoleOutputCP()) { SetConsoleOutputCP(CP_UTF8); }

Utf8Console::~Utf8Console() {
    if (previous_ != 0) SetConsoleOutputCP(previous_);
}
#endif
