#pragma once
// Damage inside the data pages and long values of a user table (one that mdb-export
// prints), made deterministically on the bytes of an intact file. The engine's reader
// only picks the target (which table, page, row, value); the damage itself is written
// byte by byte here, so the repair sees exactly what a torn or stray write leaves.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

enum class RowKind {
    TornPage,          // the second half of a data page with rows becomes 0
    RowOffsetOutside,  // a live row's slot points past the page
    RowOffsetOverlap,  // a live row's slot points inside the row before it
    FreeSpaceWrong,    // the free-space figure of the page is off
    RowUndecodable,    // a live row's column count becomes 0
    OverflowNowhere,   // a live row becomes an overflow pointer to a page past the file
    LvOutside,         // a memo/OLE chain's next-row pointer points past the file
    LvWrongPage,       // ... points at the table definition page
    LvCycle,           // ... points back at the chain's first row
    LvEndsEarly,       // ... is 0, long before the declared length
    LvFirstOutside,    // a long value's definition points past the file
    // Measured on real files: each also judged against what mdbtools reads from the damaged file.
    OverlapFewRows,    // on a page of exactly 3 rows, the middle slot starts inside the row below it
    OverlapFewAbove,   // ... inside the row above it
    TornRows,          // zeros from a sector boundary inside the row area to the page end
    OutsideManySlots,  // every other live slot of a page with many rows points past the page
    CutInPage,         // the file ends at a sector boundary inside the last user data page
    NullPlaceOut,      // a variable-offset entry only NULL fields use points past the row (an overflow
                       // target's row when the file has one); the values stay whole, so no row may go
};

const char* row_kind_name(RowKind kind);
bool is_long_value_kind(RowKind kind);
// Kinds whose rows are judged against what a reader still gets from the damaged file.
bool judged_by_damaged_reading(RowKind kind);
std::vector<RowKind> all_row_kinds();

struct RowDamage {
    std::string table;          // the user table hit
    uint32_t page = 0;          // data page (or LVAL page) written
    std::size_t rows_at_risk = 0;  // rows of the table whose values the damage can change or destroy
    bool other_tables_at_risk = false;  // pages of other tables may go too (a cut file)
    std::string note;
};

// The first LVAL row of a user table's long value spread over two or more rows, as
// (page, row): breaking that chain is damage a reader sees.
std::optional<std::pair<uint32_t, uint16_t>> first_long_value_chain(const std::filesystem::path& intact);

// Applies the damage to bytes (the file's contents, also at path for the reader).
std::optional<RowDamage> apply_row_damage(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                          RowKind kind);

}  // namespace damage
