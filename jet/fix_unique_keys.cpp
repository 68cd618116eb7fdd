// Rows that repeat a key of a unique index: saved to the recovery file, then taken out of
// their table by flagging their slot deleted (the bytes stay, as when Access deletes a
// row). The table's row count and every index of it follow.
#include <set>

#include "jet/catalog.h"
#include "jet/data_page.h"
#include "jet/dropped_row.h"
#include "jet/fix_indexes.h"
#include "jet/unique_keys.h"

namespace jet {
namespace {

constexpr int kMaxHops = 4;

// The stored bytes of a live row: its own slot, or where its overflow pointer leads.
std::vector<uint8_t> stored_row(const FixContext& context, const Layout& layout, RowLocation at) {
    for (int hop = 0; hop <= kMaxHops; ++hop) {
        const std::vector<uint8_t> page = context.read_page(at.page);
        const DataPage view(page, layout);
        if (!view.is_data_page() || at.row >= view.row_count()) return {};
        const RowSlot slot = view.slot(at.row);
        if (!slot.bounds_ok) return {};
        const Bytes row = view.row(at.row);
        if (!slot.overflow() || hop > 0) return {row.begin(), row.end()};
        if (row.size() < 4) return {};
        const RowPointer to = RowPointer::from_u32(u32_at(row, 0));
        at = RowLocation{to.page, to.row};
    }
    return {};
}

// Marks the slot deleted as Access does (both flag bits, offset kept); for a moved row the
// slot holding its bytes too, or readers that scan slots would still find it there.
void flag_deleted(FixContext& context, const Layout& layout, RowLocation at) {
    constexpr uint16_t kDeletedSlot = kRowDeleted | kRowOverflow;
    for (int hop = 0; hop <= kMaxHops; ++hop) {
        std::vector<uint8_t> page = context.read_page(at.page);
        const DataPage view(page, layout);
        if (!view.is_data_page() || at.row >= view.row_count()) return;
        const RowSlot slot = view.slot(at.row);
        const bool moved = hop == 0 && slot.overflow() && !slot.deleted() && slot.bounds_ok && slot.length() >= 4;
        const RowPointer to = moved ? RowPointer::from_u32(u32_at(view.row(at.row), 0)) : RowPointer{};
        const uint16_t raw = static_cast<uint16_t>(slot.raw | kDeletedSlot);
        const size_t offset = layout.data_header_size + 2 * size_t(at.row);
        page[offset] = static_cast<uint8_t>(raw);
        page[offset + 1] = static_cast<uint8_t>(raw >> 8);
        context.write_page(at.page, page);
        if (!moved || to.page == 0 || to.page >= context.page_count()) return;
        at = RowLocation{to.page, to.row};
    }
}

}  // namespace

std::vector<uint32_t> drop_duplicate_key_rows(FixContext& context) {
    std::vector<uint32_t> changed;
    Database db(context.copy_path());
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
            const std::vector<uint8_t> bytes = stored_row(context, db.layout(), d.row);
            const RecoveredItem item =
                dropped_row_item(*def.table, decode, e.name, d.row.page, d.row.row, bytes,
                                 "en el índice único " + d.index_name + ", " + duplicate_key_text(d) +
                                     "; se quita de la tabla");
            context.save_dropped(item);
            if (item.values.empty()) context.count_unsaved();
        }
        for (const DuplicateKeyRow& d : rows) flag_deleted(context, db.layout(), d.row);
        changed.push_back(e.tdef_page());
    }
    return changed;
}

}  // namespace jet
