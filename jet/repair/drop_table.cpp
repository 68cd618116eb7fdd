#include "jet/repair/drop_table.h"

#include <algorithm>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/check/lost_tables.h"
#include "jet/format/data_page.h"
#include "jet/repair/fix_catalog.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/repair.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr uint32_t kGlobalMap = (1u << 8) | 0u;  // page 1, row 0
constexpr size_t kMaxChainPages = 64;

struct TablePages {
    std::vector<uint32_t> definition;  // the chain from the first page, while it is one
                                       // (or the first page alone, when wiped to zeros)
    std::vector<uint32_t> data;        // data pages naming the table, in use
    std::vector<uint32_t> index;       // index pages naming the table, in use
};

bool is_tdef(const std::vector<uint8_t>& page) {
    return page.size() > 8 && page[0] == page_type::table_def && page[1] == 0x01;
}

TablePages pages_of(const FixContext& context, uint32_t tdef_page, const std::optional<UsageMapEdit>& global) {
    TablePages out;
    const auto in_use = [&](uint32_t p) { return !global || !global->covers(p) || !global->get(p); };
    if (tdef_page < 3 || tdef_page >= context.page_count()) return out;
    std::set<uint32_t> seen;
    for (uint32_t p = tdef_page; p >= 3 && p < context.page_count() && seen.insert(p).second &&
                                 seen.size() <= kMaxChainPages;) {
        const std::vector<uint8_t> page = context.read_page(p);
        if (!is_tdef(page)) {
            // A first page wiped to zeros held the definition and holds nothing now.
            if (p == tdef_page && std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; }))
                out.definition.push_back(p);
            break;
        }
        out.definition.push_back(p);
        p = u32_at(page, 4);
    }
    for (uint32_t p = 3; p < context.page_count(); ++p) {
        const std::vector<uint8_t> page = context.read_page(p);
        if (page.size() < 8 || page[1] != 0x01 || u32_at(page, 4) != tdef_page || !in_use(p)) continue;
        if (page[0] == page_type::data) out.data.push_back(p);
        if (page[0] == page_type::index_leaf || page[0] == page_type::index_node) out.index.push_back(p);
    }
    return out;
}

std::string page_list(const std::vector<uint32_t>& pages) {
    std::string out;
    for (uint32_t p : pages) out += (out.empty() ? "" : ", ") + std::to_string(p);
    return out.empty() ? "ninguna" : out;
}

std::vector<uint8_t> joined(const FixContext& context, const std::vector<uint32_t>& pages) {
    std::vector<uint8_t> out;
    for (uint32_t p : pages) {
        const std::vector<uint8_t> page = context.read_page(p);
        out.insert(out.end(), page.begin(), page.end());
    }
    return out;
}

// The definition's pages as they are, then every live row's bytes (moved rows followed).
void save_table(FixContext& context, const UnreadableTable& t, const TablePages& pages, const std::string& reason) {
    if (pages.definition.empty() && pages.data.empty()) return;
    RecoveredItem definition;
    definition.table = t.name;
    definition.page = t.tdef_page;
    definition.reason = reason + "; páginas de la definición: " + page_list(pages.definition) +
                        "; páginas de datos: " + page_list(pages.data);
    definition.raw = joined(context, pages.definition);
    context.save_dropped(definition);
    const Layout& layout = *context.header().layout;
    for (uint32_t p : pages.data) {
        const std::vector<uint8_t> bytes = context.read_page(p);
        const DataPage page(bytes, layout);
        for (uint16_t slot = 0; slot < page.row_count(); ++slot) {
            const RowSlot s = page.slot(slot);
            if (!s.bounds_ok || s.deleted()) continue;
            RecoveredItem row;
            row.table = t.name;
            row.page = p;
            row.row = slot;
            row.reason = reason + "; fila sin descodificar (bytes tal como están)";
            if (const auto at = locate_stored_row(context, p, slot)) {
                const std::vector<uint8_t> target = context.read_page(at->page);
                row.raw.assign(target.begin() + at->start, target.begin() + at->end);
            } else {
                row.raw.assign(page.row(slot).begin(), page.row(slot).end());
            }
            context.save_dropped(row);
        }
    }
}

}  // namespace

void drop_unreadable_tables(FixContext& context, const std::vector<UnreadableTable>& tables, const std::string& reason) {
    if (tables.empty()) return;
    const Layout& layout = *context.header().layout;
    PageStore& store = context;
    std::string why;
    std::optional<UsageMapEdit> global = UsageMapEdit::load(store, layout, kGlobalMap, why);
    for (const UnreadableTable& t : tables) {
        const TablePages pages = pages_of(context, t.tdef_page, global);
        save_table(context, t, pages, "tabla «" + t.name + "»: " + reason);
        delete_row_slot(context, t.row_page, t.row_slot);
        if (!global) continue;
        for (const auto* list : {&pages.definition, &pages.data, &pages.index})
            for (uint32_t p : *list) global->set(p, true);
    }
    if (global) global->save(store);
    fix_row_counts(context, {});
    rebuild_table_indexes(context, kCatalogPage);
}

std::vector<UnreadableTable> unreadable_user_tables(FixContext& context) {
    Database& db = context.database();
    std::vector<UnreadableTable> out;
    for (const CatalogEntry& e : db.user_tables()) {
        if (e.linked() || e.tdef_page() == kCatalogPage || e.tdef_page() >= db.file().page_count()) continue;
        const TableDefResult& read = db.table_def(e.tdef_page());
        if (!read.table || !column_layout_sound(*read.table)) out.push_back({e.name, e.tdef_page(), e.page, e.row});
    }
    return out;
}

}  // namespace jet
