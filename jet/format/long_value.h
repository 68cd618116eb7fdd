#pragma once
// Memo and OLE values: the 12-byte definition in the row and the LVAL rows it points to
// (inline, one row, or a chain). Damage yields the bytes that could be read plus faults.
#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/fault.h"
#include "jet/base/format.h"

namespace jet {

class PageFile;

inline constexpr size_t kLongValueDefinitionSize = 12;
inline constexpr uint32_t kLongValueInline = 0x80000000;
inline constexpr uint32_t kLongValueSingleRow = 0x40000000;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;

struct LongValueDefinition {
    uint32_t length = 0;
    uint32_t kind = 0;  // kLongValueInline, kLongValueSingleRow or 0 (chain)
    RowPointer first;
    uint32_t unknown = 0;  // bytes 8-11, kept for rewriting
};

struct LongValue {
    std::vector<uint8_t> data;
    bool complete = false;  // all declared bytes were read
    std::vector<RowPointer> rows;  // LVAL rows visited, in chain order
    Faults faults;
};

// Parses the definition; false when the field is shorter than 12 bytes.
bool parse_long_value_definition(Bytes field, LongValueDefinition& out);

LongValue read_long_value(const PageFile& file, const Layout& layout, Bytes field);

}  // namespace jet
