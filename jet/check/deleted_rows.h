#pragma once
// Rows flagged deleted by a stray write: the deleted bit of a row-offset word set (alone,
// or with the overflow bit as Access flags deletions) while the row's bytes stay whole and
// the table still counts the row. Access deletes a row by setting those bits, lowering the stored row count and taking the row's entries out of
// every index; a slot the count and an index both still name was not deleted by Access.
// Shared by the check (which reports such rows) and the repair (which brings them back):
// both judge by these rules only, so a row Access deleted never comes back.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/database.h"
#include "jet/format/table_def.h"

namespace jet {

struct CountedDeletedRow {
    RowPointer row;
    std::string index;  // an index whose entry names the row with its key; empty: the count alone
};

// The deleted slots of a user table to bring back, in page and slot order. A slot qualifies
// when it is no overflow header's target, its bytes decode as a row of the table laid out as Access writes it, on a page
// without faults, overlapping no live row, and the stored row count exceeds the live rows
// by at least the number of such slots. A table with a readable index whose keys we build
// must also name each slot with an entry carrying the row's key; a table without one has
// only its count to go by, so the count must exceed the live rows by exactly the number of
// such slots and each must carry the deleted bit alone, which Access never writes for a
// deletion (a stale count alone is common after a crash, and rows Access deleted keep
// their bytes until the page is reused).
std::vector<CountedDeletedRow> counted_deleted_rows(Database& db, const TableDef& table,
                                                    std::span<const uint32_t> data_pages);

}  // namespace jet
