#pragma once
// Arguments as UTF-8 on every system, and file paths built from them without loss.
// On Windows the narrow argv is in the ANSI code page, which cannot hold every file
// name, so the wide command line is converted instead.
#include <filesystem>
#include <string>
#include <vector>

// A path from an argument in UTF-8.
std::filesystem::path path_from_argument(const std::string& utf8);

#ifdef _WIN32
std::string utf8_from_wide(const wchar_t* text);
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);

// Console output in UTF-8 while alive; the previous output code page comes back after.
class Utf8Console {
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

private:
    unsigned previous_;
};
#endif
