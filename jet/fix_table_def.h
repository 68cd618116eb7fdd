#pragma once
// Shared by the table-definition fixes.
#include <cstdint>

#include "jet/table_def.h"

namespace jet {

// A parse Access could have written: every section read, ending where tdef_len says,
// named columns with distinct numbers, logical indexes backed by real ones, long-value
// maps of long-value columns.
bool sound_definition(const TableDefResult& parsed, uint32_t tdef_len);

}  // namespace jet
