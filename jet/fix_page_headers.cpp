// DPAGE_HEADER_LOST: a page a table's map lists whose first sector reads back as zeros
// (a write that never reached the disk). The owner is the table whose map lists the page;
// the rows still packed below the header are framed from the page end and given a header
// and offsets again. The bytes of a row cut by the zeros go to the recovery file. The
// catalog comes first: the tables whose rows it held are known only once it reads again.
#include <set>

#include "jet/catalog.h"
#include "jet/data_page_header.h"
#include "jet/database.h"
#include "jet/dropped_row.h"
#include "jet/fix_rows.h"
#include "jet/repair.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// Rebuilds the lost headers among the pages one table's map lists; true when one was.
bool rebuild_headers_of(FixContext& context, Database& db, uint32_t tdef_page, const std::string& name) {
    const TableDefResult& read = db.table_def(tdef_page);
    if (!read.table || !read.table->complete || read.table->columns.empty()) return false;
    const TableDef& def = *read.table;
    const Layout& layout = db.layout();
    const UsageMap map = read_usage_map(db.file(), layout, def.owned_map);
    if (!map.readable) return false;
    bool rebuilt = false;
    for (uint32_t p : map.pages) {
        std::vector<uint8_t> page = context.read_page(p);
        if (page.size() != layout.page_size || !data_page_header_lost(page)) continue;
        const auto exact = [&](Bytes row) { return row_sound(def, layout, row) && row_packed(def, layout, row); };
        const FramedRows rows = frame_rows_from_end(page, layout, exact);
        if (rows.leftover < rows.lowest) {
            const Bytes cut = Bytes(page).subspan(rows.leftover, rows.lowest - rows.leftover);
            RecoveredItem item{name, p, -1, {},
                               "la fila quedó cortada por la pérdida del principio de la página; se quita",
                               {}, std::vector<uint8_t>(cut.begin(), cut.end())};
            context.save_dropped(item);
        }
        rebuild_data_page_header(page, layout, tdef_page, rows);
        context.write_page(p, page);
        rebuilt = true;
    }
    return rebuilt;
}

}  // namespace

void fix_lost_page_headers(FixContext& context, std::span<const Finding>) {
    {
        Database db(context.copy_path());
        rebuild_headers_of(context, db, kCatalogPage, "MSysObjects");
    }
    Database db(context.copy_path());  // the catalog as it reads now
    if (!db.catalog().readable) return;
    std::set<uint32_t> seen{kCatalogPage};
    for (const CatalogEntry& e : db.catalog().entries)
        if (e.type == object_type::table && !e.linked() && seen.insert(e.tdef_page()).second &&
            e.tdef_page() < context.page_count())
            rebuild_headers_of(context, db, e.tdef_page(), e.name);
}

}  // namespace jet
