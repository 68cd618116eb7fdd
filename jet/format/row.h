#pragma once
// The row codec: splits a stored row into its column fields (fixed area, variable area,
// Jet 3 jump table, null mask) and decodes each field to a Value. Damage comes back as
// faults; a field that cannot be located is NULL.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/fault.h"
#include "jet/base/format.h"
#include "jet/format/table_def.h"
#include "jet/base/value.h"

namespace jet {

class PageFile;

struct Field {
    bool present = false;  // stored and not NULL
    bool bit = false;      // the null-mask bit (a boolean's value)
    Bytes bytes;           // the stored bytes (fixed slot or variable range)
};

// Stored size of a fixed column (its declared length for text, binary, calculated).
uint16_t fixed_size(const Column& column);

struct CrackedRow {
    bool usable = false;          // the row's framing could be read
    uint16_t stored_columns = 0;  // column count the row was written with
    uint16_t var_count = 0;       // entries in its variable-offset table
    std::vector<Field> fields;    // parallel to TableDef::columns
    Faults faults;
    std::vector<uint32_t> var_offsets;  // the row's variable-offset table (kept for reuse)
};

// The framing of one stored row (column count, null mask, variable-offset table), from
// which fields are located one at a time: scans that need a few columns of each row
// locate only those. Its storage is reused from row to row.
class RowFrame {
public:
    enum class Status { Ok, TooShort, ColumnCount, VarTable };
    enum class Locate { Ok, FixedOutside, VarInvalid };  // the field is absent unless Ok

    Status load(const TableDef& table, const Layout& layout, Bytes row);
    bool usable() const { return usable_; }
    // The field of one of the table's columns; absent (not stored, NULL, or misplaced) unless present.
    Locate locate(const Column& column, Field& out) const {
        out = Field{};
        return usable_ ? locate_in(view_, column, out) : Locate::Ok;
    }

    // The stored bytes of a fixed-area column other than a boolean, `size` being its
    // fixed_size: what locate gives, false where it gives an absent field.
    bool fixed_bytes(const Column& column, size_t size, Bytes& out) const {
        const View& v = view_;
        if (!usable_ || column.number >= v.stored_columns) return false;
        if (!((v.mask[column.number / 8] >> (column.number % 8)) & 1)) return false;
        const size_t at = v.cs + column.fixed_offset;
        if (at + size > v.fixed_end) return false;
        out = v.row.subspan(at, size);
        return true;
    }

private:
    friend void crack_row_into(const TableDef&, const Layout&, Bytes, CrackedRow&);
    struct View {
        Bytes row, mask;
        size_t cs, stored_columns, var_count, fixed_end, trailer_start;
        bool has_var;
        // Variable offset i for i = 0..var_count (the last is eod): Jet 3 from its table
        // (jump bytes applied), Jet 4 read in place (u16 at jet4_offsets - 2i).
        const uint32_t* offsets;
        const uint8_t* jet4_offsets;
        size_t offset(size_t i) const {
            if (offsets) return offsets[i];
            const uint8_t* p = jet4_offsets - 2 * i;
            return size_t(p[0]) | size_t(p[1]) << 8;
        }
    };
    // Reads the framing into `view`, the offsets into `offsets`.
    static Status frame(const TableDef& table, const Layout& layout, Bytes row, std::vector<uint32_t>& offsets,
                        View& view);
    // `out` must be empty (Field{}); the column must be the table's.
    static Locate locate_in(const View& view, const Column& column, Field& out);
    // Whether the place of a stored NULL field is one Access writes: its fixed slot inside
    // the fixed area, its variable range in order inside the variable area.
    static bool null_place_ok(const View& view, const Column& column);

    bool usable_ = false;
    View view_{};
    std::vector<uint32_t> offsets_;
};

inline bool RowFrame::null_place_ok(const View& v, const Column& c) {
    if (c.number >= v.stored_columns || c.bit_only()) return true;
    if (c.fixed()) return v.cs + c.fixed_offset + fixed_size(c) <= v.fixed_end;
    if (!v.has_var || c.var_index >= v.var_count) return true;
    const size_t start = v.offset(c.var_index), end = v.offset(c.var_index + 1);
    return start <= end && start >= v.cs && end <= v.trailer_start;
}

// Inline: scans locate several fields of every row.
inline RowFrame::Locate RowFrame::locate_in(const View& v, const Column& c, Field& f) {
    if (c.number >= v.stored_columns) return Locate::Ok;  // column added after the row was written
    f.bit = (v.mask[c.number / 8] >> (c.number % 8)) & 1;
    if (c.bit_only()) {
        f.present = true;
        return Locate::Ok;
    }
    if (!f.bit) return Locate::Ok;
    if (c.fixed()) {
        const size_t at = v.cs + c.fixed_offset, size = fixed_size(c);
        if (at + size > v.fixed_end) return Locate::FixedOutside;
        f.present = true;
        f.bytes = v.row.subspan(at, size);
        return Locate::Ok;
    }
    if (!v.has_var || c.var_index >= v.var_count) return Locate::Ok;  // not stored: NULL
    const size_t start = v.offset(c.var_index), end = v.offset(c.var_index + 1);
    if (start > end || start < v.cs || end > v.trailer_start) return Locate::VarInvalid;
    f.present = true;
    f.bytes = v.row.subspan(start, end - start);
    return Locate::Ok;
}

CrackedRow crack_row(const TableDef& table, const Layout& layout, Bytes row);
// The same into `out`, reusing its storage: for scans that split many rows.
void crack_row_into(const TableDef& table, const Layout& layout, Bytes row, CrackedRow& out);

// Counts a split row may not exceed for its table: the columns it has ever had, the
// variable slots it has. Past them the row does not read (ROW_COLUMN_COUNT, ROW_LAYOUT).
bool columns_fit(const TableDef& table, const CrackedRow& row);
bool var_slots_fit(const TableDef& table, const CrackedRow& row);
// A row's framing and counts, as the check judges them: a row failing this is unreadable.
bool row_sound(const TableDef& table, const CrackedRow& row);
bool row_sound(const TableDef& table, const Layout& layout, Bytes row);
// Whether a sound row is laid out as Access writes it: variable data ending right where
// the trailer begins (a span cut at the wrong place rarely is). It reads a few bytes of any
// span safely, so it goes before row_sound where many spans are tried.
bool row_packed(const TableDef& table, const Layout& layout, Bytes row);

struct DecodeContext {
    const PageFile* file = nullptr;  // for memo and OLE values
    const Layout* layout = nullptr;
    uint16_t code_page = 1252;       // database default (Jet 3 text)
};

// Decodes one located field; faults (long values, bad sizes) are appended.
Value decode_field(const Column& column, const Field& field, const DecodeContext& context, Faults& faults);

// A text or memo field as its exact UTF-16 code units (memo through its long value);
// nullopt for NULL, for other types, and for a long value that cannot be read at all.
// decode_field gives the same text as UTF-8.
std::optional<std::u16string> decode_field_text_utf16(const Column& column, const Field& field,
                                                      const DecodeContext& context, Faults& faults);
// The same into `out` (its storage reused); false where the above gives nullopt.
bool decode_field_text_utf16(const Column& column, const Field& field, const DecodeContext& context, Faults& faults,
                             std::u16string& out);

struct DecodedRow {
    bool usable = false;
    std::vector<Value> values;  // parallel to TableDef::columns
    Faults faults;
};

DecodedRow decode_row(const TableDef& table, Bytes row, const DecodeContext& context);

}  // namespace jet
