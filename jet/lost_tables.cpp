#include "jet/lost_tables.h"

#include <set>

#include "jet/catalog.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/fix_table_def.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

bool is_tdef_page(Bytes page) { return page.size() > 8 && page[0] == page_type::table_def && page[1] == 0x01; }

bool known_type(uint8_t type) { return type >= data_type::boolean && type <= data_type::datetime_ext; }

// Beyond sound_definition: a user table's header and columns whose rows decode.
bool readable_user_table(const TableDefResult& read) {
    if (!read.table || !sound_definition(read, read.table->tdef_len)) return false;
    const TableDef& t = *read.table;
    if (t.table_type != 'N' || t.columns.empty()) return false;
    std::set<uint16_t> var_slots;
    for (const Column& c : t.columns) {
        if (!known_type(c.type) || c.number >= t.max_cols) return false;
        if (!c.fixed() && c.type != data_type::boolean &&
            (c.var_index >= t.num_var_cols || !var_slots.insert(c.var_index).second))
            return false;
    }
    return true;
}

// Pages catalog rows name (any row whose Id is a page number owns that page) and every
// page of their definition chains, plus every page some definition continues into.
std::set<uint32_t> taken_pages(Database& db) {
    std::set<uint32_t> taken{kCatalogPage};
    for (const CatalogEntry& e : db.catalog().entries)
        if ((static_cast<uint32_t>(e.id) >> 24) == 0) taken.insert(e.tdef_page());
    for (uint32_t p : std::set<uint32_t>(taken))
        if (p < db.file().page_count())
            if (const TableDefResult& read = db.table_def(p); read.table)
                taken.insert(read.table->pages.begin(), read.table->pages.end());
    for (uint32_t p = 3; p < db.file().page_count(); ++p) {
        const PageRef page = db.file().fetch(p);
        if (is_tdef_page(page))
            if (const uint32_t next = u32_at(page, 4); next != 0) taken.insert(next);
    }
    return taken;
}

}  // namespace

std::string lost_table_name(uint32_t tdef_page) { return "Tabla_recuperada_" + std::to_string(tdef_page); }

std::vector<LostTable> find_lost_tables(Database& db) {
    std::vector<LostTable> out;
    if (!db.catalog().readable) return out;
    const auto& free_pages = db.free_pages();
    if (!free_pages) return out;
    const std::vector<bool>& free = *free_pages;
    const std::set<uint32_t> taken = taken_pages(db);
    const PageFile& file = db.file();
    const Layout& layout = db.layout();
    for (uint32_t p = 3; p < file.page_count(); ++p) {
        if (free[p] || taken.count(p)) continue;
        const PageRef first = file.fetch(p);
        if (!is_tdef_page(first) || u8_at(first, layout.tdef_table_type) != 'N') continue;
        const TableDefResult& read = db.table_def(p);
        if (!readable_user_table(read)) continue;
        const TableDef& def = *read.table;
        bool chain_in_use = true;
        for (uint32_t q : def.pages)
            if (q >= free.size() || free[q]) chain_in_use = false;
            else if (const PageRef chain = file.fetch(q); q != p && !is_tdef_page(chain)) chain_in_use = false;
        if (!chain_in_use) continue;

        const UsageMap map = read_usage_map(file, layout, def.owned_map);
        if (!map.readable || !map.faults.empty() || map.pages_past_end != 0) continue;
        LostTable lost{p, {}, 0};
        bool own_pages = true;
        for (uint32_t q : map.pages) {
            const PageRef bytes = file.fetch(q);
            const DataPage page(bytes, layout);
            if (!page.is_data_page() || page.owner() != p || free[q]) {
                own_pages = false;
                break;
            }
            lost.data_pages.push_back(q);
            for (const RowSlot& s : page.slots())
                if (s.bounds_ok && !s.deleted()) ++lost.live_rows;
        }
        if (own_pages) out.push_back(std::move(lost));
    }
    return out;
}

}  // namespace jet
