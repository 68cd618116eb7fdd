#include "jet/repair/moved_rows.h"

#include <algorithm>

#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/repair/repair.h"

namespace jet {

std::vector<MovedRow> unnamed_moved_rows(Database& db, uint32_t tdef_page, const std::vector<uint32_t>& pages,
                                         uint32_t skip, std::set<std::pair<uint32_t, uint16_t>> pointed) {
    std::vector<MovedRow> moved;
    for (uint32_t q : pages) {
        if (q == skip || q >= db.file().page_count()) continue;
        const PageRef bytes = db.file().fetch(q);
        const DataPage page(bytes, db.layout());
        if (!page.is_data_page() || page.owner() != tdef_page) continue;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot s = page.slot(i);
            if (!s.bounds_ok) continue;
            if ((s.raw & (kRowDeleted | kRowOverflow)) == kRowOverflow && s.length() >= 4) {
                const RowPointer to = RowPointer::from_u32(u32_at(page.row(i), 0));
                pointed.insert({to.page, to.row});
            } else if ((s.raw & (kRowDeleted | kRowOverflow)) == kRowDeleted && s.length() > 0) {
                moved.push_back({q, i});
            }
        }
    }
    std::erase_if(moved, [&](const MovedRow& m) { return pointed.count({m.page, m.row}) > 0; });
    return moved;
}

void make_ordinary_row(FixContext& context, const Layout& layout, const MovedRow& moved) {
    std::vector<uint8_t> page = context.read_page(moved.page);
    const size_t at = layout.data_header_size + 2 * size_t(moved.row);
    if (at + 2 > page.size()) return;
    page[at + 1] = uint8_t(page[at + 1] & ~(kRowDeleted >> 8));
    context.write_page(moved.page, page);
}

}  // namespace jet
