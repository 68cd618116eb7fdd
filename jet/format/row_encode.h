#pragma once
// The inverse of crack_row: lays out a row from per-column field bytes, as Access writes
// rows (full fixed area, variable data in slot order, offset trailer, null mask). Used
// to write the few rows the repair adds (catalog rows of tables found again).
#include <cstdint>
#include <optional>
#include <vector>

#include "jet/base/format.h"
#include "jet/format/table_def.h"

namespace jet {

struct FieldValue {
    bool present = false;        // stored and not NULL (a boolean: its value)
    std::vector<uint8_t> bytes;  // fixed columns: exactly their stored size
};

// fields run parallel to table.columns. Nothing when a fixed field has the wrong size, a
// column number or variable slot lies outside the table's counts, or the row could not
// be framed (variable data past the offsets a row can hold).
std::optional<std::vector<uint8_t>> encode_row(const TableDef& table, const Layout& layout,
                                               const std::vector<FieldValue>& fields);

}  // namespace jet
