#pragma once
// A table's data pages and rows as the repair sees them on the working copy: the pages
// its owned map lists that really are its data pages, and a row with its overflow
// pointer followed. Shared by the fixes that recount or re-map a table.
#include <cstdint>
#include <optional>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/file/page_file.h"
#include "jet/format/table_def.h"

namespace jet {

// Pages the owned map lists whose type and owner field say they hold this table's rows;
// nothing when the map row cannot be read.
std::optional<std::vector<uint32_t>> mapped_data_pages(const PageFile& file, const Layout& layout,
                                                       const TableDef& table);

// The bytes of the row at a live slot; an overflow slot is followed to its row on a page
// of the same table. Empty when the slot or its target is unusable.
Bytes locate_row(const PageFile& file, const DataPage& page, uint32_t tdef_page, uint16_t slot);

}  // namespace jet
