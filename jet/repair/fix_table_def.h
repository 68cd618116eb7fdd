#pragma once
// Shared by the table-definition fixes.
#include <cstdint>

#include "jet/format/table_def.h"

namespace jet {

class FixContext;

// Writes a definition's new logical buffer (no longer than the old one) over its chain:
// bytes past the new end up to the old one become zero, Jet 4/ACE pages keep their free
// space field in step, and continuation pages the shorter buffer no longer reaches leave
// the chain, emptied and flagged free.
void write_table_def(FixContext& context, const TableDef& old, const std::vector<uint8_t>& buffer);

// Type bytes no version of Access writes set back to the type each column's descriptor,
// indexes and rows tell (jet/repair/fix_column_types.cpp).
void fix_column_types(FixContext& context);

}  // namespace jet
