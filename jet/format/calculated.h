#pragma once
// Calculated columns (ACE 14 and later) as Access lays them out. Every stored value, of
// whatever type, sits in the row's variable area wrapped: 16 bytes, the data length as a
// u32, the data, 3 more bytes (kCalculated* in table_def.h). A calculated boolean is such
// a value (one byte, 0 or FF), not the null-mask bit; a calculated memo keeps a long-value
// reference in the row and wraps the long value itself. Data of length 0 is an empty
// result: NULL, or the empty text.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/table_def.h"
#include "jet/base/value.h"

namespace jet {

// Gives the calculated columns their result types. The definition keeps a stored type
// that the values need not follow (a yes/no result over an integer column, a currency
// one over a double); the column's "ResultType" property names the type written.
// Without it, a text column of declared length 0 is a memo: calculated texts declare
// their length plus the wrapper, long values none.
void apply_result_types(TableDef& table, const std::vector<std::pair<std::string, uint8_t>>& result_types);

// The data inside a stored calculated value; false when the value is shorter than its
// wrapper or than the data length it declares.
bool unwrap_calculated(Bytes stored, Bytes& data);

// A calculated decimal's data: u16 byte count of what follows it (0: all of it), scale,
// sign (non-zero: negative), then a magnitude of that count less 2, cut to a multiple of
// 4 and at most 16 bytes: 8-byte little-endian groups, most significant first, after a
// leading little-endian u32 when the size is not a multiple of 8. False when too short.
bool calculated_decimal(Bytes data, Decimal& out);

}  // namespace jet
