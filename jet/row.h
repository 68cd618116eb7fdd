#pragma once
// The row codec: splits a stored row into its column fields (fixed area, variable area,
// Jet 3 jump table, null mask) and decodes each field to a Value. Damage comes back as
// faults; a field that cannot be located is NULL.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/fault.h"
#include "jet/format.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

class PageFile;

struct Field {
    bool present = false;  // stored and not NULL
    bool bit = false;      // the null-mask bit (a boolean's value)
    Bytes bytes;           // the stored bytes (fixed slot or variable range)
};

struct CrackedRow {
    bool usable = false;          // the row's framing could be read
    uint16_t stored_columns = 0;  // column count the row was written with
    uint16_t var_count = 0;       // entries in its variable-offset table
    std::vector<Field> fields;    // parallel to TableDef::columns
    Faults faults;
    std::vector<uint32_t> var_offsets;  // the row's variable-offset table (kept for reuse)
};

// Stored size of a fixed column (its declared length for text, binary, calculated).
uint16_t fixed_size(const Column& column);

CrackedRow crack_row(const TableDef& table, const Layout& layout, Bytes row);
// The same into `out`, reusing its storage: for scans that split many rows.
void crack_row_into(const TableDef& table, const Layout& layout, Bytes row, CrackedRow& out);

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
