// CAT_ROW_GARBLED: a catalog row that decodes but describes no object (zeros written over
// its name or its Id); CAT_ROW_UNREADABLE left once the catalog's definition counts are
// right: a row without Id, name or type. Nothing tells what such a row was, so it is saved
// to the recovery file and dropped; a table it named whose definition is still sound is
// then found by the search for lost tables and given a catalog row again.
#include "jet/catalog.h"
#include "jet/database.h"
#include "jet/fix_catalog.h"
#include "jet/repair.h"

namespace jet {
namespace {

struct BadRow {
    uint32_t page;
    uint16_t row;
    std::string why;
};

void drop_catalog_rows(FixContext& context, bool garbled, bool unreadable) {
    std::vector<BadRow> bad;
    Database db(context.copy_path());
    const TableDefResult& def = db.table_def(kCatalogPage);
    if (!def.table) return;
    const Catalog& catalog = db.catalog();
    if (garbled)
        for (const CatalogEntry& e : catalog.entries)
            if (std::string why = garbled_catalog_entry(e); !why.empty()) bad.push_back({e.page, e.row, std::move(why)});
    if (unreadable)
        for (const Fault& f : catalog.faults)
            if (f.kind == FaultKind::CatalogRow && f.row >= 0)
                bad.push_back({f.page, static_cast<uint16_t>(f.row), "le falta el identificador, el nombre o el tipo"});
    for (const BadRow& b : bad) {
        save_row(context, *def.table, "MSysObjects", b.page, b.row,
                 "la fila del catálogo no describe ningún objeto (" + b.why + "); se quita");
        delete_row_slot(context, b.page, b.row);
    }
}

}  // namespace

void fix_garbled_catalog_rows(FixContext& context, std::span<const Finding>) {
    drop_catalog_rows(context, true, false);
}

void fix_unreadable_catalog_rows(FixContext& context, std::span<const Finding> findings) {
    fix_table_def_counts(context, findings);
    drop_catalog_rows(context, false, true);
}

}  // namespace jet
