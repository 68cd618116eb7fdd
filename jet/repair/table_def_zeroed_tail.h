#pragma once
// A definition whose end was lost to a zeroed sector, laid out again from what precedes it.
#include <cstdint>
#include <optional>
#include <vector>

#include "jet/base/format.h"
#include "jet/format/table_def.h"

namespace jet {

// The definition's new logical buffer, or nothing when the zeros reach its columns (or
// lie nowhere before its end) or what is left does not read as a sound definition.
std::optional<std::vector<uint8_t>> rebuild_zeroed_tail(const TableDef& t, const Layout& l, uint16_t code_page);

}  // namespace jet
