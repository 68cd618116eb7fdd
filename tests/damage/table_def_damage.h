#pragma once
// Fields of a table definition's index entries, found with this file's own small reading
// of the format (counts from the header, names skipped by their lengths), for damage to
// single definition fields. Offsets are in the definition's logical buffer (first page
// whole, then each continuation page from its byte 8).
#include <cstdint>
#include <optional>
#include <vector>

namespace damage {

struct DefinitionAt {
    uint32_t page = 0;
    bool system = false;                       // table type 'S'
    std::vector<std::size_t> index_maps;       // each real index's map pointer
    std::vector<std::size_t> index_columns;    // each real index's first column slot
    std::vector<std::size_t> logical_reals;    // each logical index's real-index number
    std::vector<std::size_t> column_numbers;   // each column's number
    std::vector<std::size_t> column_slots;     // each column's variable slot
    std::vector<uint8_t> column_flags;         // each column's flags (0x01: fixed)
    std::vector<uint8_t> column_types;         // each column's data type (0x01: boolean)
    std::vector<std::size_t> column_starts;    // each column's descriptor (its type byte first)
    std::vector<std::size_t> column_offsets;   // each column's offset in the fixed area
    std::vector<std::size_t> lv_columns;       // each long-value map entry's column number
    uint8_t max_columns_stored = 0;            // low byte of the highest-number count
    std::size_t first_name = 0;                // the first column name's length field
    std::size_t terminator = 0;                // the FF FF ending the definition (tdef_len - 2)
    std::size_t autonumber = 0;                // the stored autonumber seed
    uint32_t rows = 0;                         // the stored row count
    std::vector<uint32_t> pages;               // the chain
    std::vector<std::size_t> origin;           // file offset of each logical byte

    uint32_t get(const std::vector<uint8_t>& file, std::size_t at, std::size_t width) const;
    void put(std::vector<uint8_t>& file, std::size_t at, uint32_t value, std::size_t width) const;
};

// The definition starting at `page`, when its index sections read (at most 8 pages).
std::optional<DefinitionAt> definition_at(const std::vector<uint8_t>& file, uint32_t page);

// Every definition's first page (type 'N' or 'S' at the table-type offset), page 2 excluded.
std::vector<uint32_t> definition_pages(const std::vector<uint8_t>& file);

}  // namespace damage
