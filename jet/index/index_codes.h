#pragma once
// Per-character codes of the three text sort orders Access writes by default. A text
// index key is assembled from these (jet/index/index_key.cpp).
#include <cstdint>
#include <span>

namespace jet {

enum class TextSortOrder : uint8_t {
    General97,      // Jet 3 default (LCID 1033)
    GeneralLegacy,  // Jet 4 / ACE 12 default (LCID 1033, version 0)
    General,        // ACE 14 and later (LCID 1033, version 1)
};

// How a character takes part in a key.
enum class CharClass : uint8_t {
    Ignored = 0,           // contributes nothing
    Simple = 1,            // inline code only
    International = 2,     // inline code plus an extra code
    Unprintable = 3,       // no inline code; recorded in the unprintable section
    UnprintableExt = 4,    // adds its extra byte to the previous extra code
    InternationalExt = 5,  // inline code, optional extra code, and a "crazy" flag
    Significant = 6,       // General 97: inline code, counts as a placeholder nibble
};

struct CharCode {
    CharClass cls = CharClass::Ignored;
    uint8_t code_len = 0;
    uint8_t extra_len = 0;
    bool crazy_first = false;  // InternationalExt: flag value 2 (else 3)
    uint8_t elements = 1;      // sort elements in the inline code (ligatures hold several)
    uint8_t code[8] = {};      // inline bytes, or the unprintable bytes for Unprintable
    uint8_t extra[4] = {};     // extra bytes, or the modifier for UnprintableExt

    std::span<const uint8_t> code_bytes() const { return {code, code_len}; }
    std::span<const uint8_t> extra_bytes() const { return {extra, extra_len}; }
};

// Code of one UTF-16 code unit in the given sort order. Tables are unpacked on first use
// (thread-safe).
const CharCode& char_code(TextSortOrder order, char16_t c);
// The whole table of an order that has one entry per code unit (nullptr for General 97),
// for loops over many characters.
const CharCode* char_code_table(TextSortOrder order);

}  // namespace jet
