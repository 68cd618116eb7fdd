// CAT_ROW_GARBLED: a catalog row that decodes but describes no object (zeros written over
// its name or its Id). Nothing tells what it was, so it is saved to the recovery file and
// dropped; a table it named whose definition is still sound is then found by the search
// for lost tables and given a catalog row again.
#include "jet/catalog.h"
#include "jet/database.h"
#include "jet/fix_catalog.h"
#include "jet/repair.h"

namespace jet {

void fix_garbled_catalog_rows(FixContext& context, std::span<const Finding>) {
    std::vector<std::pair<CatalogEntry, std::string>> garbled;
    Database db(context.copy_path());
    const TableDefResult& def = db.table_def(kCatalogPage);
    if (!def.table) return;
    for (const CatalogEntry& e : db.catalog().entries)
        if (std::string why = garbled_catalog_entry(e); !why.empty()) garbled.emplace_back(e, std::move(why));
    for (const auto& [e, why] : garbled) {
        save_row(context, *def.table, "MSysObjects", e.page, e.row,
                 "la fila del catálogo no describe ningún objeto (" + why + "); se quita");
        delete_row_slot(context, e.page, e.row);
    }
}

}  // namespace jet
