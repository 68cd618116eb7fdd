#pragma once
// The one column property the engine needs from a table's property blob (MSysObjects.LvProp):
// the result type of each calculated column. Access keeps the column's stored type in the
// table definition, but the values are written as the result type, which may differ.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/bytes.h"

namespace jet {

// (column name, result type) for every property block holding a byte-valued "ResultType";
// empty for a blob that is not an ACE/Jet 4 property list or is damaged before any.
std::vector<std::pair<std::string, uint8_t>> calculated_result_types(Bytes blob);

}  // namespace jet
