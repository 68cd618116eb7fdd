#pragma once
// Verifies every real index of one table: the tree (pages, shape, order) and, when its
// keys can be encoded, the entries against the table's live rows. The check pass turns
// the verdicts into findings; the rows are read once per table.
#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/database.h"
#include "jet/index/index.h"
#include "jet/index/index_check.h"
#include "jet/index/index_row_key.h"

namespace jet {

struct IndexVerdict {
    size_t real_index = 0;
    std::string name;            // first logical index backed by it ("" when none)
    IndexTree tree;              // pages reached, leaf entries, shape issues
    bool keys_checked = false;   // false: sort order or type not encodable (see reason)
    std::string reason;          // Spanish, when keys were not checked
    IndexDataResult data;        // entries against rows, when keys_checked
    std::vector<TextSortOrder> text_orders;
    // The index's owned-page map against its tree (only when the map can be read).
    std::vector<uint32_t> unmapped_pages;  // reached by the tree, not in the map
    std::vector<uint32_t> stray_pages;     // in the map, not reached by the tree

    // Nothing to rebuild: key bytes that differ in place are Access's own (a note only).
    bool sound() const {
        return tree.valid() && data.sound() && unmapped_pages.empty() && stray_pages.empty();
    }
};

// What the verification holds at once, whatever the size of the table: the keys of the
// rows are dealt in shares of about `share_bytes`; the indexes checked over one scan of
// the rows hold a byte per entry, together at most `held_entries` (one index alone may
// exceed it); of each kind of issue the first `issues_per_kind` are kept.
// `digest_first`: compare digests of entries and rows first (one scan, no shares), and
// join entries with rows only for the indexes whose digests differ.
struct IndexVerifyLimits {
    size_t share_bytes = size_t{12} << 20;
    size_t held_entries = size_t{8} << 20;
    size_t issues_per_kind = 64;
    bool digest_first = true;
};

// `rows_readable`: the table's rows can be decoded (otherwise only the trees are checked).
// The trees' entries are not kept (IndexVerdict::tree.entries stays empty).
std::vector<IndexVerdict> verify_table_indexes(Database& db, const TableDef& table,
                                               const std::string& table_name, bool rows_readable,
                                               Faults& faults, const IndexVerifyLimits& limits = {});

}  // namespace jet
