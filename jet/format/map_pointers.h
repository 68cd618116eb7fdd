#pragma once
// The usage-map row pointers one table definition holds, in a fixed order: the table's own
// page and free-space maps, each real index's map, each memo/OLE column's two maps. The
// check and the map-pointer fix walk them alike (a row two of them name is one too many).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/base/format.h"
#include "jet/format/table_def.h"

namespace jet {

struct MapPointerRef {
    enum class Kind { TablePages, TableFree, Index, LongValuePages, LongValueFree };
    Kind kind;
    std::size_t number = 0;  // real index, or the long-value column's number
    uint32_t pointer = 0;    // row pointer as stored (page << 8 | row); 0: no map
    std::size_t offset = 0;  // of the pointer in the logical definition buffer
};

std::vector<MapPointerRef> map_pointers(const TableDef& table, const Layout& layout);

}  // namespace jet
