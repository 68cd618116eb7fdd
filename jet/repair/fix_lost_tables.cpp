// CAT_TABLE_LOST: a user table's definition, sound and in use, that no catalog row names.
// Its catalog row is written again under the name Tabla_recuperada_<page> (one of
// Access's own hidden tables, recognised by its columns, under its own name and flags),
// so the table and every row it holds come back; its own pages are not touched.
#include <set>

#include "jet/format/catalog.h"
#include "jet/repair/catalog_insert.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/check/lost_tables.h"
#include "jet/repair/moved_rows.h"
#include "jet/repair/repair.h"
#include "jet/format/row.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

// Definition pages of the flat tables behind multi-valued columns (MSysComplexColumns'
// FlatTableID): Access keeps them hidden, flagged 0x800A0000, and so must their new row.
std::set<uint32_t> flat_tables(Database& db) {
    std::set<uint32_t> out;
    for (const CatalogEntry& e : db.catalog().entries) {
        if (e.type != object_type::table || e.name != "MSysComplexColumns") continue;
        const TableDefResult& read = db.table_def(e.tdef_page());
        if (!read.table || !read.table->complete) continue;
        size_t column = read.table->columns.size();
        for (size_t k = 0; k < read.table->columns.size(); ++k)
            if (read.table->columns[k].name == "FlatTableID") column = k;
        Faults ignored;
        db.scan_rows(*read.table, e.name, [&](const RowLocation&, std::vector<Value>&& values) {
            if (column >= values.size()) return;
            if (const auto* id = std::get_if<int32_t>(&values[column])) out.insert(static_cast<uint32_t>(*id) & 0x00FFFFFF);
        }, ignored);
    }
    return out;
}

// Catalog rows moved off their page when they grew, whose pointer is gone with the bytes
// around it: flagged as moved, nothing names them, and the catalog reads without them
// (other readers take such a row where it lies). One that names a lost table's definition
// is that table's own row: it becomes an ordinary row again, name and flags as Access wrote.
void revive_moved_catalog_rows(FixContext& context) {
    Database& db = context.database();
    const std::vector<LostTable> lost = find_lost_tables(db);
    if (lost.empty()) return;
    std::set<uint32_t> lost_pages;
    for (const LostTable& t : lost) lost_pages.insert(t.tdef_page);
    const TableDefResult& read = db.table_def(kCatalogPage);
    if (!read.table || !read.table->complete) return;
    const TableDef& def = *read.table;
    const UsageMap map = read_usage_map(db.file(), db.layout(), def.owned_map);
    if (!map.readable) return;
    for (const MovedRow& m : unnamed_moved_rows(db, kCatalogPage, map.pages, 0, {})) {
        const PageRef bytes = db.file().fetch(m.page);
        const DataPage page(bytes, db.layout());
        const DecodedRow row = decode_row(def, page.row(m.row), db.decode_context());
        CatalogEntry e;
        if (!row.usable || !catalog_entry_from_row(def, row.values, e) || e.type != object_type::table ||
            !garbled_catalog_entry(e).empty() || !lost_pages.erase(e.tdef_page()))
            continue;
        make_ordinary_row(context, db.layout(), m);
    }
}

}  // namespace

void fix_lost_tables(FixContext& context, std::span<const Finding>) {
    revive_moved_catalog_rows(context);
    std::vector<NewCatalogTable> tables;
    {
        Database& db = context.database();
        const std::set<uint32_t> flat = flat_tables(db);
        for (const LostTable& lost : find_lost_tables(db)) {
            NewCatalogTable table{lost.tdef_page, lost_table_name(lost.tdef_page), 0};
            if (flat.count(lost.tdef_page)) table.flags = 0x800A0000;
            if (const TableDefResult& read = db.table_def(lost.tdef_page); read.table && attachment_flat_table(*read.table))
                table.flags = 0x800A0000;
            if (const TableDefResult& read = db.table_def(lost.tdef_page); read.table)
                if (const auto shape = access_table_shape(*read.table)) {
                    // Under its own name unless the catalog already has that table; hidden either way.
                    bool named = false;
                    for (const CatalogEntry& e : db.catalog().entries) named = named || e.name == shape->name;
                    if (!named) table.name = shape->name;
                    table.flags = shape->flags;
                }
            tables.push_back(table);
        }
    }
    add_catalog_tables(context, tables);
}

}  // namespace jet
