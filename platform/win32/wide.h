#pragma once
// On Windows wchar_t is a UTF-16 code unit: the seams' text converts one unit at a time.
#include <string>
#include <string_view>

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

inline std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace platform::win32
