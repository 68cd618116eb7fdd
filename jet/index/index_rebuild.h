#pragma once
// Rebuilds real indexes of one table from its live rows: the sorted entries (the keys the
// check compares against) are packed into a fresh tree, written over the index's own old
// pages first, then pages the global map flags free, then pages appended to the file, all
// inside one window of an inline owned map when any window can hold them (else the map
// becomes a reference map, gaining the map pages it needs); the owned-page map, the root
// pointer and the entry count in the table definition follow,
// and old pages left over go back to the global map. Nothing is written for an index
// whose rebuild cannot be right (a sort order we cannot encode, duplicate keys in a
// unique index, maps that cannot hold the new pages): it fails with a Spanish reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/database.h"
#include "jet/index/index_page.h"
#include "jet/index/key_sorter.h"
#include "jet/file/page_store.h"

namespace jet {

// The entries one real index should hold, sorted, or why they cannot be built.
struct ExpectedIndex {
    size_t real_index = 0;
    bool ok = false;
    std::string reason;  // Spanish, when !ok
    std::vector<IndexEntry> entries;
    size_t duplicate_keys = 0;  // unique index: rows whose key repeats an earlier row's
};

// One scan of the table's rows for all the chosen real indexes.
std::vector<ExpectedIndex> expected_index_entries(Database& db, const TableDef& table, const std::string& name,
                                                  const std::vector<size_t>& real_indexes);

struct IndexRebuildResult {
    size_t real_index = 0;
    std::string name;     // logical name, or "físico N"
    bool rebuilt = false;
    std::string failure;  // Spanish, when !rebuilt
    size_t entries = 0;
    size_t pages = 0;           // pages of the new tree
    size_t pages_reused = 0;    // of the index's own old pages
    size_t pages_from_free = 0; // flagged free in the global map
    size_t pages_appended = 0;
    size_t pages_freed = 0;     // old pages given back
    size_t map_pages_added = 0; // new pages of its owned map (now a reference map)
};

// `db` is the file as it stood before the rebuild (rows and old trees are read from it);
// every page that changes is read and written through `store`, which must hold the same
// file. Indexes are rebuilt one after the other; their keys are sorted within `limits`
// (the memory is shared by the table's indexes).
std::vector<IndexRebuildResult> rebuild_table_indexes(Database& db, PageStore& store, const TableDef& table,
                                                      const std::string& name, const std::vector<size_t>& real_indexes,
                                                      const KeySortLimits& limits = {});

// Logical name of a real index ("físico N" when no logical index uses it).
std::string real_index_label(const TableDef& table, size_t real_index);

}  // namespace jet
