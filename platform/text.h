#pragma once
// Conversions at the edges: the seams speak UTF-16, POSIX file names and
// the engine speak UTF-8. Invalid input is replaced with U+FFFD, never thrown.
#include <string>
#include <string_view>

namespace platform {

std::u16string utf16_from_utf8(std::string_view utf8);
std::string utf8_from_utf16(std::u16string_view utf16);

}  // namespace platform
