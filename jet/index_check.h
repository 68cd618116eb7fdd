#pragma once
// An index against its table: every live row has exactly one entry (rows whose index
// columns are all NULL are skipped by ignore-nulls indexes), every entry points at a live
// row whose key equals the entry, and a unique index holds no key twice.
#include <cstdint>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/index_key.h"
#include "jet/index_page.h"

namespace jet {

namespace index_flag {
inline constexpr uint8_t unique = 0x01;
inline constexpr uint8_t ignore_nulls = 0x02;
inline constexpr uint8_t required = 0x08;
}  // namespace index_flag

// A live row of the table and the key it should have in the index.
struct KeyedRow {
    RowPointer row;  // the row's header slot (for overflowed rows, the pointer slot)
    index_key::Key key;
    bool all_null = false;
};

enum class IndexDataIssueKind {
    MissingEntry,     // a live row has no entry
    EntryForNoRow,    // an entry points at no live row of the table
    KeyMismatch,      // an entry's key differs from its row's key
    DuplicateEntry,   // a row has more than one entry
    UniqueViolation,  // a unique index holds the same key for two rows
};

struct IndexDataIssue {
    IndexDataIssueKind kind;
    RowPointer row;
    std::string detail;  // Spanish
};

struct IndexDataResult {
    std::vector<IndexDataIssue> issues;
    size_t entries_checked = 0;
    size_t keys_identical = 0;  // entries whose row's key matched byte for byte
};

// `entries` in tree order; `rows` in any order.
IndexDataResult compare_index_with_rows(const std::vector<IndexEntry>& entries,
                                        std::vector<KeyedRow> rows, uint8_t index_flags);

}  // namespace jet
