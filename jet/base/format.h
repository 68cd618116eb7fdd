#pragma once
// On-disk layout constants of the two page layouts: Jet 3 (2 KB pages) and Jet 4,
// which every ACE version shares (4 KB pages). Picked by the version byte of page 0.
#include <cstddef>
#include <cstdint>

namespace jet {

enum class Version : uint8_t {
    Jet3 = 0x00,
    Jet4 = 0x01,
    Ace12 = 0x02,
    Ace14 = 0x03,
    Ace2013 = 0x04,
    Ace16 = 0x05,
    Ace17 = 0x06,
};

// Page types (byte 0 of every page).
namespace page_type {
inline constexpr uint8_t header = 0x00;
inline constexpr uint8_t data = 0x01;
inline constexpr uint8_t table_def = 0x02;
inline constexpr uint8_t index_node = 0x03;
inline constexpr uint8_t index_leaf = 0x04;
inline constexpr uint8_t usage_map = 0x05;
}  // namespace page_type

// Column data types.
namespace data_type {
inline constexpr uint8_t boolean = 0x01;
inline constexpr uint8_t byte = 0x02;
inline constexpr uint8_t integer = 0x03;
inline constexpr uint8_t long_integer = 0x04;
inline constexpr uint8_t currency = 0x05;
inline constexpr uint8_t single = 0x06;
inline constexpr uint8_t double_ = 0x07;
inline constexpr uint8_t datetime = 0x08;
inline constexpr uint8_t binary = 0x09;
inline constexpr uint8_t text = 0x0A;
inline constexpr uint8_t ole = 0x0B;
inline constexpr uint8_t memo = 0x0C;
inline constexpr uint8_t unknown_0d = 0x0D;
inline constexpr uint8_t guid = 0x0F;
inline constexpr uint8_t decimal = 0x10;
inline constexpr uint8_t unknown_11 = 0x11;
inline constexpr uint8_t complex = 0x12;
inline constexpr uint8_t big_int = 0x13;
inline constexpr uint8_t datetime_ext = 0x14;
}  // namespace data_type

// Row-offset slot flags on data pages.
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowOverflow = 0x4000;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;

inline constexpr uint8_t kMaxVersionByte = 0x06;

struct Layout {
    bool jet3;
    uint32_t page_size;

    // Page 0.
    size_t header_mask_length;  // bytes masked from 0x18
    size_t password_length;     // bytes at 0x42

    // Data pages.
    size_t data_row_count;    // u16 row count
    size_t data_header_size;  // first row-offset slot

    // TDEF header (offsets into the logical buffer).
    size_t tdef_num_rows;
    size_t tdef_autonumber;
    size_t tdef_table_type;
    size_t tdef_max_cols;
    size_t tdef_num_var_cols;
    size_t tdef_num_cols;
    size_t tdef_num_idx;
    size_t tdef_num_real_idx;
    size_t tdef_owned_map;
    size_t tdef_free_map;
    size_t tdef_variable_start;
    size_t real_index_count_entry_size;

    // Column descriptor.
    size_t column_size;
    size_t col_type;
    size_t col_number;
    size_t col_var_index;
    size_t col_sort_order;
    size_t col_code_page;  // 0 = none (Jet 4 stores none)
    size_t col_precision;
    size_t col_scale;
    size_t col_complex_id;
    size_t col_flags;
    size_t col_ext_flags;  // 0 = none (Jet 3 has none)
    size_t col_fixed_offset;
    size_t col_length;

    size_t name_length_size;  // 1 (Jet 3, code page bytes) or 2 (Jet 4, UCS-2)

    // Real (physical) index block.
    size_t real_index_size;
    size_t ri_columns;
    size_t ri_owned_map;
    size_t ri_root_page;
    size_t ri_flags;

    // Logical index block.
    size_t logical_index_size;
    size_t li_number;
    size_t li_real_number;
    size_t li_rel_type;
    size_t li_rel_index;
    size_t li_rel_table;
    size_t li_cascade_updates;
    size_t li_cascade_deletes;
    size_t li_index_type;

    // Rows.
    size_t row_count_size;       // stored column count
    size_t row_var_offset_size;  // var offsets, eod and var count

    // Index pages.
    size_t ix_prev_page;
    size_t ix_next_page;
    size_t ix_tail_page;
    size_t ix_prefix_length;
    size_t ix_bitmask;
    size_t ix_first_entry;

    // Usage maps: bitmap bytes of a table/index/LV inline map as written.
    size_t inline_map_bytes;

    // Long values: data bytes of a full chain row (page minus header, slot and pointer).
    size_t max_lval_chunk;
};

inline constexpr Layout kJet3Layout{
    .jet3 = true,
    .page_size = 2048,
    .header_mask_length = 126,
    .password_length = 20,
    .data_row_count = 0x08,
    .data_header_size = 0x0A,
    .tdef_num_rows = 0x0C,
    .tdef_autonumber = 0x10,
    .tdef_table_type = 0x14,
    .tdef_max_cols = 0x15,
    .tdef_num_var_cols = 0x17,
    .tdef_num_cols = 0x19,
    .tdef_num_idx = 0x1B,
    .tdef_num_real_idx = 0x1F,
    .tdef_owned_map = 0x23,
    .tdef_free_map = 0x27,
    .tdef_variable_start = 0x2B,
    .real_index_count_entry_size = 8,
    .column_size = 18,
    .col_type = 0,
    .col_number = 1,
    .col_var_index = 3,
    .col_sort_order = 9,
    .col_code_page = 11,
    .col_precision = 11,
    .col_scale = 12,
    .col_complex_id = 11,
    .col_flags = 13,
    .col_ext_flags = 0,
    .col_fixed_offset = 14,
    .col_length = 16,
    .name_length_size = 1,
    .real_index_size = 39,
    .ri_columns = 0,
    .ri_owned_map = 30,
    .ri_root_page = 34,
    .ri_flags = 38,
    .logical_index_size = 20,
    .li_number = 0,
    .li_real_number = 4,
    .li_rel_type = 8,
    .li_rel_index = 9,
    .li_rel_table = 13,
    .li_cascade_updates = 17,
    .li_cascade_deletes = 18,
    .li_index_type = 19,
    .row_count_size = 1,
    .row_var_offset_size = 1,
    .ix_prev_page = 0x08,
    .ix_next_page = 0x0C,
    .ix_tail_page = 0x10,
    .ix_prefix_length = 0x14,
    .ix_bitmask = 0x16,
    .ix_first_entry = 0xF8,
    .inline_map_bytes = 128,
    .max_lval_chunk = 2032,
};

inline constexpr Layout kJet4Layout{
    .jet3 = false,
    .page_size = 4096,
    .header_mask_length = 128,
    .password_length = 40,
    .data_row_count = 0x0C,
    .data_header_size = 0x0E,
    .tdef_num_rows = 0x10,
    .tdef_autonumber = 0x14,
    .tdef_table_type = 0x28,
    .tdef_max_cols = 0x29,
    .tdef_num_var_cols = 0x2B,
    .tdef_num_cols = 0x2D,
    .tdef_num_idx = 0x2F,
    .tdef_num_real_idx = 0x33,
    .tdef_owned_map = 0x37,
    .tdef_free_map = 0x3B,
    .tdef_variable_start = 0x3F,
    .real_index_count_entry_size = 12,
    .column_size = 25,
    .col_type = 0,
    .col_number = 5,
    .col_var_index = 7,
    .col_sort_order = 11,
    .col_code_page = 0,
    .col_precision = 11,
    .col_scale = 12,
    .col_complex_id = 11,
    .col_flags = 15,
    .col_ext_flags = 16,
    .col_fixed_offset = 21,
    .col_length = 23,
    .name_length_size = 2,
    .real_index_size = 52,
    .ri_columns = 4,
    .ri_owned_map = 34,
    .ri_root_page = 38,
    .ri_flags = 46,
    .logical_index_size = 28,
    .li_number = 4,
    .li_real_number = 8,
    .li_rel_type = 12,
    .li_rel_index = 13,
    .li_rel_table = 17,
    .li_cascade_updates = 21,
    .li_cascade_deletes = 22,
    .li_index_type = 23,
    .row_count_size = 2,
    .row_var_offset_size = 2,
    .ix_prev_page = 0x0C,
    .ix_next_page = 0x10,
    .ix_tail_page = 0x14,
    .ix_prefix_length = 0x18,
    .ix_bitmask = 0x1B,
    .ix_first_entry = 0x1E0,
    .inline_map_bytes = 64,
    .max_lval_chunk = 4072,
};
// Jet 4/ACE column descriptor: the text sort order's version byte (after the LCID and
// one unknown byte). Jet 3 descriptors have none.
inline constexpr size_t kJet4ColumnSortVersion = 14;


// nullptr for a version byte no known engine writes.
inline const Layout* layout_for_version(uint8_t version_byte) {
    if (version_byte == 0x00) return &kJet3Layout;
    if (version_byte <= kMaxVersionByte) return &kJet4Layout;
    return nullptr;
}

}  // namespace jet
