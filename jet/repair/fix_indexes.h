#pragma once
// Index rebuilds inside a repair: the fix for IDX_* findings, and the call other fixes
// make after changing a table's rows. Both work on the repair's working copy.
#include <cstdint>
#include <span>
#include <vector>

#include "jet/index/index_rebuild.h"
#include "jet/repair/repair.h"

namespace jet {

// Rebuilds every real index of the table whose definition starts at `tdef_page` from its
// rows as the working copy holds them now. Throws EngineError (Spanish) when an index
// cannot be rebuilt right; indexes already rebuilt stay rebuilt.
std::vector<IndexRebuildResult> rebuild_table_indexes(FixContext& context, uint32_t tdef_page);

// Takes out of every table the rows that repeat a key of one of its unique indexes
// (jet/index/unique_keys.h), each saved to the recovery file first. Returns the definition pages
// of the tables it changed; their row counts and indexes are not yet updated.
std::vector<uint32_t> drop_duplicate_key_rows(FixContext& context);

// IDX_UNIQUE_DUPLICATE: those rows taken out, then the row counts and every index of each
// table changed. Runs before the other index fixes: no index holding a repeated unique key
// can be rebuilt.
void fix_unique_duplicates(FixContext& context, std::span<const Finding> findings);

// IDX_*: re-verifies every index of every table of the working copy and rebuilds each
// one that is wrong (the findings only say that some are).
void fix_rebuild_indexes(FixContext& context, std::span<const Finding> findings);

}  // namespace jet
