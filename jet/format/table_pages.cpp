#include "jet/format/table_pages.h"

#include "jet/format/usage_map.h"

namespace jet {

std::optional<std::vector<uint32_t>> mapped_data_pages(const PageFile& file, const Layout& layout,
                                                       const TableDef& table) {
    const UsageMap map = read_usage_map(file, layout, table.owned_map);
    if (!map.readable) return std::nullopt;
    std::vector<uint32_t> pages;
    for (uint32_t p : map.pages) {
        const PageRef page_bytes = file.fetch(p);
        const DataPage page(page_bytes, layout);
        if (page.is_data_page() && !page.is_lval() && page.owner() == table.page) pages.push_back(p);
    }
    return pages;
}

Bytes locate_row(const PageFile& file, const DataPage& page, uint32_t tdef_page, uint16_t slot_index) {
    const RowSlot slot = page.slot(slot_index);
    if (!slot.bounds_ok || slot.deleted()) return {};
    Bytes row = page.row(slot_index);
    if (!slot.overflow()) return row;
    if (row.size() < 4) return {};
    const RowPointer to = RowPointer::from_u32(u32_at(row, 0));
    const PageRef next_bytes = file.fetch(to.page);
    const DataPage next(next_bytes, page.layout());
    if (to.page == 0 || !next.is_data_page() || next.owner() != tdef_page || to.row >= next.row_count()) return {};
    return next.row(to.row);
}

}  // namespace jet
