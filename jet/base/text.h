#pragma once
// Text as stored: Jet 3 single-byte code pages, Jet 4 UCS-2 with optional compression.
// Returned as UTF-8 for display, or as the exact UTF-16 code units (index keys are built
// from those: an unpaired surrogate must stay itself, not become U+FFFD).
#include <cstdint>
#include <string>
#include <string_view>

#include "jet/base/bytes.h"
#include "jet/base/format.h"

namespace jet {

// Code page used when a database names one we have no table for.
inline constexpr uint16_t kDefaultCodePage = 1252;

// UTF-16 code units of bytes 0x80-0xFF, or nullptr for a code page without a table.
const char16_t* code_page_upper_half(uint16_t code_page);

void append_utf8(std::string& out, char32_t code_point);

// Single-byte text; unknown code pages read as 1252.
std::string decode_code_page_text(Bytes bytes, uint16_t code_page);

// UCS-2LE; a value starting FF FE is compressed: one byte per character with high
// byte 0, and each 00 byte toggles between that mode and plain UCS-2. Unpaired
// surrogates become U+FFFD; an odd trailing byte is dropped.
std::string decode_ucs2_text(Bytes bytes);

// Text of the layout's kind (code_page is used by Jet 3 only).
std::string decode_text(Bytes bytes, const Layout& layout, uint16_t code_page);

// The same texts as UTF-16 code units, exactly as stored (compression undone).
std::u16string decode_code_page_text_utf16(Bytes bytes, uint16_t code_page);
std::u16string decode_ucs2_text_utf16(Bytes bytes);
std::u16string decode_text_utf16(Bytes bytes, const Layout& layout, uint16_t code_page);
// The same into `out`, replacing its contents and reusing its storage.
void decode_code_page_text_utf16(Bytes bytes, uint16_t code_page, std::u16string& out);
void decode_ucs2_text_utf16(Bytes bytes, std::u16string& out);
void decode_text_utf16(Bytes bytes, const Layout& layout, uint16_t code_page, std::u16string& out);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view units);

}  // namespace jet
