#pragma once
// Fixes for data pages, rows and long values. One walk per table re-derives everything
// from the working copy, so each entry point mends every such problem at once and a
// second call finds nothing left to do.
#include <span>

#include "jet/base/bytes.h"
#include "jet/repair/repair.h"
#include "jet/format/row.h"  // row_sound, row_packed
#include "jet/format/table_def.h"

namespace jet {

struct Layout;
struct TableDef;

// DPAGE_*, ROW_*: row-offset tables, free-space figures, rows that do not decode,
// overflow pointers that lead nowhere, values too long for their column.
void fix_rows(FixContext& context, std::span<const Finding> findings);

// LV_*: memo and OLE values whose definition or chain is broken keep the part that reads.
void fix_long_values(FixContext& context, std::span<const Finding> findings);

}  // namespace jet
