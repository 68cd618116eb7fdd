// DPAGE_COPY: a data page written over with a copy of another. The original stays; the
// copy's rows (which repeat it) go to the recovery file, the page is emptied and flagged
// free in the global map, and the table that listed it gets its row count and indexes
// back from the rows that are left. The rows the page held before cannot come back.
#include <set>

#include "jet/format/catalog.h"
#include "jet/check/check.h"
#include "jet/repair/dropped_row.h"
#include "jet/repair/fix_indexes.h"
#include "jet/check/page_copies.h"
#include "jet/format/table_pages.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

std::string table_name(const Catalog& catalog, uint32_t tdef_page) {
    for (const CatalogEntry& e : catalog.entries)
        if (e.type == object_type::table && e.tdef_page() == tdef_page) return e.name;
    return {};
}

// Every live row of the copy, decoded as the rows of the table its owner field names.
void save_copied_rows(FixContext& context, Database& db, const PageCopy& copy) {
    const PageRef bytes = db.file().fetch(copy.copy);
    const DataPage page(bytes, db.layout());
    const TableDefResult& def = db.table_def(copy.rows_owner);
    const std::string name = table_name(db.catalog(), copy.rows_owner);
    const std::string reason = "copia de la página " + std::to_string(copy.original) + " escrita sobre la página " +
                               std::to_string(copy.copy) + "; la fila sigue en la página " +
                               std::to_string(copy.original);
    for (uint16_t i = 0; i < page.row_count(); ++i) {
        const RowSlot slot = page.slot(i);
        if (slot.deleted() || !slot.bounds_ok) continue;
        RecoveredItem item;
        if (def.table) {
            item = dropped_row_item(*def.table, db.decode_context(), name, copy.copy, i,
                                    locate_row(db.file(), page, copy.rows_owner, i), reason);
        } else {
            item.table = name;
            item.page = copy.copy;
            item.row = i;
            item.reason = reason;
            const Bytes row = page.row(i);
            item.raw.assign(row.begin(), row.end());
        }
        context.save_dropped(item);
        if (item.values.empty()) context.count_unsaved();
    }
}

void free_in_global_map(FixContext& context, const std::vector<uint32_t>& pages) {
    PageStore& store = context;
    std::string why;
    std::optional<UsageMapEdit> global = UsageMapEdit::load(store, *context.header().layout, (1u << 8) | 0u, why);
    if (!global) return;  // the map rebuild after the fixes keeps an emptied page out of every structure
    for (uint32_t p : pages) global->set(p, true);
    global->save(store);
}

}  // namespace

void fix_page_copies(FixContext& context, std::span<const Finding> findings) {
    std::vector<uint32_t> named;
    for (const Finding& f : findings)
        if (f.location.page) named.push_back(*f.location.page);
    std::vector<PageCopy> copies;
    {
        Database& db = context.database();
        copies = find_page_copies(db, tables_compared(db.catalog()), named);
        for (const PageCopy& c : copies) save_copied_rows(context, db, c);
    }
    if (copies.empty()) return;
    std::set<uint32_t> tables;
    std::vector<uint32_t> emptied;
    for (const PageCopy& c : copies) {
        context.write_page(c.copy, std::vector<uint8_t>(context.page_size(), 0));
        emptied.push_back(c.copy);
        if (c.listed_by) tables.insert(c.listed_by);
    }
    free_in_global_map(context, emptied);
    fix_row_counts(context, {});
    for (uint32_t tdef_page : tables) rebuild_table_indexes(context, tdef_page);
}

}  // namespace jet
