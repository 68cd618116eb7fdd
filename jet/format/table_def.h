#pragma once
// Table definitions: the chain of TDEF pages read as one logical buffer, and the
// header, columns, indexes and long-value map trailer parsed from it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/fault.h"
#include "jet/base/format.h"

namespace jet {

class PageFile;

namespace column_flag {
inline constexpr uint8_t fixed = 0x01;
inline constexpr uint8_t updatable = 0x02;
inline constexpr uint8_t auto_long = 0x04;
inline constexpr uint8_t auto_guid = 0x40;
inline constexpr uint8_t hyperlink = 0x80;
}  // namespace column_flag

namespace column_ext_flag {
inline constexpr uint8_t compressed_unicode = 0x01;
inline constexpr uint8_t calculated = 0xC0;
}  // namespace column_ext_flag

// Calculated values are wrapped: 16 bytes, the data length (u32), the data, 3 bytes.
inline constexpr size_t kCalculatedLengthOffset = 16;
inline constexpr size_t kCalculatedDataOffset = 20;
inline constexpr size_t kCalculatedOverhead = 23;

struct Column {
    std::string name;
    uint8_t type = 0;          // calculated columns: the result type once known (see calculated.h)
    uint8_t stored_type = 0;   // as the definition stores it
    bool result_type_known = false;  // calculated: `type` comes from the column's properties
    uint16_t number = 0;     // stable id and null-mask bit
    uint16_t var_index = 0;  // slot in the row's variable-offset table
    uint16_t fixed_offset = 0;
    uint16_t length = 0;
    uint8_t flags = 0;
    uint8_t ext_flags = 0;
    uint16_t sort_order = 0;    // text collation LCID
    uint8_t sort_version = 0;   // Jet 4/ACE: 0 = General Legacy, 1 = General (2010); Jet 3: 0
    uint16_t code_page = 0;  // Jet 3 only; 0 = database default
    uint8_t precision = 0;   // decimal
    uint8_t scale = 0;       // decimal
    uint32_t complex_id = 0; // complex columns (ACE)
    size_t descriptor_offset = 0;  // in the logical TDEF buffer

    bool fixed() const { return flags & column_flag::fixed; }
    bool calculated() const { return (ext_flags & column_ext_flag::calculated) == column_ext_flag::calculated; }
    bool long_value() const { return type == data_type::memo || type == data_type::ole; }
    // A plain boolean: its value is the null-mask bit and it takes no room in the row.
    // Calculated booleans are wrapped values in the variable area like other calculated ones.
    bool bit_only() const { return type == data_type::boolean && !calculated(); }
};

struct IndexColumn {
    uint16_t number = 0xFFFF;  // 0xFFFF = unused slot
    bool ascending = true;
};

struct RealIndex {
    uint32_t entry_count = 0;
    std::array<IndexColumn, 10> columns{};
    uint32_t owned_map = 0;  // row pointer as stored
    uint32_t root_page = 0;
    uint8_t flags = 0;
    size_t descriptor_offset = 0;  // in the logical TDEF buffer
};

struct LogicalIndex {
    std::string name;
    uint32_t number = 0;
    uint32_t real_number = 0;
    uint8_t rel_type = 0;
    int32_t rel_index = -1;
    uint32_t rel_table = 0;
    uint8_t cascade_updates = 0;
    uint8_t cascade_deletes = 0;
    uint8_t index_type = 0;  // 1 primary key, 2 foreign key
};

struct LongValueMaps {
    uint16_t column_number = 0;
    uint32_t owned_map = 0;  // row pointers as stored
    uint32_t free_map = 0;
    size_t descriptor_offset = 0;  // of the entry (column number first) in the logical TDEF buffer
};

struct TableDef {
    uint32_t page = 0;
    std::vector<uint32_t> pages;   // the chain, first page first
    std::vector<uint8_t> buffer;   // the logical buffer
    uint32_t tdef_len = 0;
    uint32_t num_rows = 0;
    uint32_t autonumber = 0;
    uint8_t table_type = 0;  // 'N' user, 'S' system
    uint16_t max_cols = 0;
    uint16_t num_var_cols = 0;
    uint16_t num_cols = 0;
    uint32_t num_idx = 0;
    uint32_t num_real_idx = 0;
    uint32_t owned_map = 0;  // row pointers as stored
    uint32_t free_map = 0;
    std::vector<Column> columns;  // sorted by column number
    std::vector<RealIndex> real_indexes;
    std::vector<LogicalIndex> logical_indexes;
    std::vector<LongValueMaps> long_value_maps;
    bool complete = false;  // every section parsed
    size_t parsed_length = 0;  // end of the FF FF terminator when complete

    const Column* column_by_number(uint16_t number) const;
};

struct TableDefResult {
    std::optional<TableDef> table;  // absent when the first page is no TDEF
    Faults faults;
};

// Stable lowercase name of a data type ("text", "long", "memo", ...); "unknown_0x.." else.
std::string data_type_name(uint8_t type);

// Pages a definition of tdef_len bytes fills: its first page whole, then each
// continuation page after its 8-byte header. Access links no more than these.
size_t table_def_pages_needed(uint32_t tdef_len, size_t page_size);

// Reads the TDEF chain starting at page; names in Jet 3 files use code_page.
TableDefResult read_table_def(const PageFile& file, const Layout& layout, uint32_t page, uint16_t code_page);

// Parses a logical buffer already assembled (the first 8 bytes being the first page's header).
TableDefResult parse_table_def(Bytes buffer, const Layout& layout, uint16_t code_page);

// Where parse_table_def would end on these bytes (the parsed_length of a complete parse),
// found from the counts and length fields alone, with nothing decoded;
// nothing when the parse would stop short. Lets a search over candidate bytes parse in
// full only the candidates that end where the definition does.
std::optional<size_t> parsed_end(Bytes buffer, const Layout& layout);

// The last section, long-value map entries up to FF FF, takes the walk above over as many
// 10-byte steps as the definition is long. A search that only changes bytes before that
// section (counts, name lengths) can find each candidate's end from a table made once.
class TrailingEnds {
public:
    explicit TrailingEnds(Bytes buffer);
    // Where the entries starting at `pos` end; nothing when they run off the buffer.
    std::optional<size_t> from(size_t pos) const;

private:
    std::vector<uint32_t> end_;  // 0: runs off
};

// parsed_end for candidates whose bytes from the last section on are those `trailing` was
// made from.
std::optional<size_t> parsed_end(Bytes buffer, const Layout& layout, const TrailingEnds& trailing);

// A parse Access could have written: every section read, ending where tdef_len says,
// named columns with distinct numbers, logical indexes backed by real ones, long-value
// maps of long-value columns.
bool sound_definition(const TableDefResult& parsed, uint32_t tdef_len);

}  // namespace jet
