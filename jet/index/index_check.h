#pragma once
// An index against its table: every live row has exactly one entry (rows whose index
// columns are all NULL are skipped by ignore-nulls indexes), every entry points at a live
// row whose key equals the entry, and a unique index holds no key twice.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/index/index_key.h"
#include "jet/index/index.h"
#include "jet/index/index_page.h"

namespace jet {

namespace index_flag {
inline constexpr uint8_t unique = 0x01;
inline constexpr uint8_t ignore_nulls = 0x02;
inline constexpr uint8_t required = 0x08;
}  // namespace index_flag

// The live rows of a table with the key each should have in one index. The keys share
// one buffer: a table scan adds one per row, and a vector per key cost more than the
// comparison itself.
class KeyedRows {
public:
    void reserve(size_t rows, size_t key_bytes) {
        rows_.reserve(rows);
        bytes_.reserve(key_bytes);
    }
    // `row` is the row's header slot (for overflowed rows, the pointer slot); `text` where
    // the key's text values lie.
    void add(RowPointer row, std::span<const uint8_t> key, bool all_null, index_key::TextSpan text = {});
    size_t size() const { return rows_.size(); }
    RowPointer row(size_t i) const { return rows_[i].row; }
    bool all_null(size_t i) const { return rows_[i].all_null; }
    std::span<const uint8_t> key(size_t i) const { return {bytes_.data() + rows_[i].offset, rows_[i].length}; }
    index_key::TextSpan text(size_t i) const { return rows_[i].text; }
    // Orders the rows by page, then row (a table scan adds them in that order already).
    void sort_by_row();

private:
    struct Row {
        RowPointer row;
        uint32_t offset;
        uint32_t length;
        bool all_null;
        index_key::TextSpan text;
    };
    std::vector<uint8_t> bytes_;
    std::vector<Row> rows_;
};

enum class IndexDataIssueKind {
    MissingEntry,     // a live row has no entry
    EntryForNoRow,    // an entry points at no live row of the table
    KeyMismatch,      // an entry's key differs from ours only inside its text, the entry in its place
    KeyWrong,         // an entry's key differs outside its text, or the row's key sorts elsewhere
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

    // Nothing but key bytes in place differ: Access wrote keys our encoder does not
    // reproduce exactly, and it finds every row through them.
    bool sound() const;
};

// An index's entries against its rows, in two steps so that neither needs all keys at
// once. First the join by row: the rows are dealt in shares (by page), each with the
// entries that point into it, named by their position in tree order; then every entry
// again in tree order, which settles what needs neighbours (repeats of a unique key, an
// entry misplaced among the agreeing ones). Held throughout: a byte per entry, and the
// keys of the entries that differ from their rows.
class IndexComparison {
public:
    // `issues_per_kind`: issues kept of each kind, in order (the rest are dropped).
    IndexComparison(size_t entry_count, uint8_t index_flags, size_t issues_per_kind = SIZE_MAX);
    // For a tree already known to hold one entry per row with the row's key (their digests
    // match, jet/index/entry_digest.h): no join, nothing held per entry. Only a unique
    // index needs the walk in order; `all_null_keys` are the keys rows with every key column
    // NULL have (they never conflict).
    static IndexComparison agreeing(size_t entry_count, uint8_t index_flags,
                                    std::vector<std::vector<uint8_t>> all_null_keys,
                                    size_t issues_per_kind = SIZE_MAX);
    ~IndexComparison();
    IndexComparison(IndexComparison&&) noexcept;
    IndexComparison& operator=(IndexComparison&&) noexcept;

    // One share: `entries` those pointing into it, in tree order, `ordinals[k]` the position
    // of entries[k] in the whole tree; `rows` every row of the share (sorted by row here).
    // Shares are taken in page order.
    void join(const std::vector<size_t>& ordinals, const TreeEntries& entries, KeyedRows& rows);
    // Then each entry of the tree in order.
    void take(std::span<const uint8_t> key, RowPointer row);
    IndexDataResult finish();

private:
    void check_unique(std::span<const uint8_t> key, RowPointer row, bool all_null);

    struct State;
    std::unique_ptr<State> s_;
};

// `entries` in tree order; `rows` in any order (sorted by row here). An entry whose key
// differs from its row's is Access's own work when the two differ only inside the text
// values (our other encodings are exact) and the row's key sorts between the nearest
// entries before and after it whose keys agree with their rows: a text encoder off for
// some character moves a key among the entries that share its neighbourhood, a row changed
// after its entry was written usually moves it past them, and an entry of another index
// differs in its columns.
IndexDataResult compare_index_with_rows(const TreeEntries& entries, KeyedRows& rows,
                                        uint8_t index_flags);

}  // namespace jet
