// Rows that repeat a key of a unique index: saved to the recovery file, then taken out of
// their table by flagging their slot deleted (the bytes stay, as when Access deletes a
// row). The table's row count and every index of it follow.
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/repair/dropped_row.h"
#include "jet/repair/fix_catalog.h"
#include "jet/repair/fix_indexes.h"
#include "jet/index/unique_keys.h"

namespace jet {
namespace {

// The stored bytes of a live row: its own slot, or where its overflow pointer leads.
std::vector<uint8_t> stored_row(const FixContext& context, RowLocation at) {
    const std::optional<StoredRow> stored = locate_stored_row(context, at.page, at.row);
    if (!stored) return {};
    const std::vector<uint8_t> page = context.read_page(stored->page);
    const Bytes row = slice(page, stored->start, stored->end - stored->start);
    return {row.begin(), row.end()};
}

}  // namespace

std::vector<uint32_t> drop_duplicate_key_rows(FixContext& context) {
    std::vector<uint32_t> changed;
    Database& db = context.database();
    const std::vector<Relationship> relationships = read_relationships(db);
    std::set<uint32_t> seen;
    for (const CatalogEntry& e : db.catalog().entries) {
        // The catalog's own rows name the tables: a repeat there is not one to drop blindly.
        if (e.type != object_type::table || e.tdef_page() == kCatalogPage || !seen.insert(e.tdef_page()).second)
            continue;
        const TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete || def.table->columns.empty()) continue;
        const std::vector<DuplicateKeyRow> rows = duplicate_key_rows(db, *def.table, e.name, relationships);
        if (rows.empty()) continue;
        // The reader of the copy decodes long values of rows still in place.
        const DecodeContext decode = db.decode_context();
        for (const DuplicateKeyRow& d : rows) {
            const std::vector<uint8_t> bytes = stored_row(context, d.row);
            const RecoveredItem item =
                dropped_row_item(*def.table, decode, e.name, d.row.page, d.row.row, bytes,
                                 "en el índice único " + d.index_name + ", " + duplicate_key_text(d) +
                                     "; se quita de la tabla");
            context.save_dropped(item);
            if (item.values.empty()) context.count_unsaved();
        }
        for (const DuplicateKeyRow& d : rows) delete_row_slot(context, d.row.page, d.row.row);
        changed.push_back(e.tdef_page());
    }
    return changed;
}

}  // namespace jet
