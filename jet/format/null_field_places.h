#pragma once
// Puts the variable-offset entries of NULL fields back in order inside a row.
//
// Access writes a NULL variable field as an empty range between its neighbours. A stray
// write into such an entry goes unseen by a reader that looks at the null mask first, but
// mdbtools places every field before it reads the mask and skips the whole row when one
// falls outside it; the row's values themselves are whole.
#include <cstdint>
#include <span>

#include "jet/base/format.h"
#include "jet/format/table_def.h"

namespace jet {

// Sets every entry that only NULL (or deleted) fields use, and that is out of order, to
// the entry before it. True when the row then decodes with no fault; false, the row
// untouched, when a present field is itself out of place or an entry cannot be set
// (a Jet 3 entry whose jump bytes fix its high part).
bool place_null_fields(const TableDef& table, const Layout& layout, std::span<uint8_t> row);

}  // namespace jet
