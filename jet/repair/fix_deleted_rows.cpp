// ROW_DELETED_COUNTED: the deleted bit, and the overflow bit Access sets with it, cleared
// on each slot the table's count and indexes still name (jet/check/deleted_rows.h). The row
// keeps its bytes and its slot number, so the index entries that point at it are right
// again and nothing else moves.
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/check/deleted_rows.h"
#include "jet/repair/repair.h"
#include "jet/format/table_pages.h"

namespace jet {

void fix_deleted_rows(FixContext& context, std::span<const Finding>) {
    const Layout& layout = *context.header().layout;
    std::vector<RowPointer> back;
    {
        Database& db = context.database();
        if (!db.catalog().readable) return;
        for (const CatalogEntry& e : db.user_tables()) {
            const TableDefResult& def = db.table_def(e.tdef_page());
            if (!def.table || !def.table->complete || def.table->columns.empty()) continue;
            const auto pages = mapped_data_pages(db.file(), db.layout(), *def.table);
            if (!pages) continue;
            for (const CountedDeletedRow& r : counted_deleted_rows(db, *def.table, *pages)) back.push_back(r.row);
        }
    }
    for (const RowPointer& at : back) {
        std::vector<uint8_t> page = context.read_page(at.page);
        const size_t word = layout.data_header_size + 2 * size_t(at.row);
        if (word + 2 > page.size()) continue;
        page[word + 1] &= static_cast<uint8_t>(~((kRowDeleted | kRowOverflow) >> 8));
        context.write_page(at.page, page);
    }
}

}  // namespace jet
