#pragma once
// Index key encoding: the bytes Access stores for one row in an index, so that plain
// unsigned byte comparison gives index order. One segment per index column, each a flag
// byte (ascending/descending, null/non-null) and the encoded value.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "jet/index/index_codes.h"

namespace jet::index_key {

using Key = std::vector<uint8_t>;

// Sort order of a text column from its descriptor (LCID, version byte) and the
// database version byte; nullopt for a sort order whose keys we cannot build.
std::optional<TextSortOrder> text_sort_order(uint16_t lcid, uint8_t sort_version,
                                             uint8_t db_version_byte);

// Jet 3 and Jet 4 order decimal keys by the old rule; ACE 12 and later by the fixed one.
inline bool legacy_decimal_rule(uint8_t db_version_byte) { return db_version_byte <= 0x01; }

// True for the column types an index can be built on (text sort order aside).
bool indexable_type(uint8_t type);

// Where a key's non-NULL text values lie: from the first one's first value byte (after its
// flag) to the end of the last one; empty when the key holds none.
struct TextSpan {
    uint32_t begin = 0;
    uint32_t end = 0;
    bool empty() const { return begin >= end; }
};

// Only the first 255 characters of a text value count in its key.
inline constexpr size_t kMaxTextKeyChars = 255;

void append_null(Key& key, bool ascending);
// Booleans are never NULL in a key.
void append_boolean(Key& key, bool value, bool ascending);
void append_byte(Key& key, uint8_t value, bool ascending);
// Two's complement integer of `width` bytes (2, 4 or 8): Integer, Long, Currency (value ×
// 10 000), Large Number, Complex.
void append_integer(Key& key, int64_t value, unsigned width, bool ascending);
void append_single(Key& key, float value, bool ascending);
// Double and Date/Time (days since 1899-12-30).
void append_double(Key& key, double value, bool ascending);
// Decimal as stored in a row: sign byte (0x80 negative), then four u32 LE words, most
// significant first.
void append_decimal(Key& key, std::span<const uint8_t, 17> stored, bool ascending,
                    bool legacy_rule);
// GUID as stored in a row (first three fields little-endian).
void append_guid(Key& key, std::span<const uint8_t, 16> stored, bool ascending);
void append_binary(Key& key, std::span<const uint8_t> value, bool ascending);
// Extended date/time as stored in a row (42 ASCII bytes).
void append_ext_datetime(Key& key, std::span<const uint8_t, 42> stored, bool ascending);
// Text or memo as UTF-16 code units (Jet 3 text decoded from its code page first).
void append_text(Key& key, std::u16string_view text, TextSortOrder order, bool ascending);

// Encodes a non-NULL fixed-length column value from its stored (little-endian) bytes:
// byte, integer, long, currency, single, double, date/time, GUID, decimal, complex,
// large number, extended date/time. False when the type is not fixed-length or the
// bytes are too short.
bool append_fixed(Key& key, uint8_t type, std::span<const uint8_t> stored, bool ascending,
                  bool legacy_decimal);

// The same for one type chosen ahead, for scans that encode a column row after row: byte,
// integer, long, complex, currency, large number, single, double, date/time. `stored`
// holds at least fixed_writer_width(type) bytes; the segment, one byte more than that, is
// written at `out`, which must have room for 9 bytes whatever the width. nullptr (and
// width 0) for other types.
using FixedWriter = void (*)(uint8_t* out, const uint8_t* stored, bool ascending);
FixedWriter fixed_writer(uint8_t type);
unsigned fixed_writer_width(uint8_t type);

}  // namespace jet::index_key
