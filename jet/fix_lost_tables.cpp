// CAT_TABLE_LOST: a user table's definition, sound and in use, that no catalog row names.
// Its catalog row is written again under the name Tabla_recuperada_<page> (one of
// Access's own hidden tables, recognised by its columns, under its own name and flags),
// so the table and every row it holds come back; its own pages are not touched.
#include "jet/catalog.h"
#include "jet/catalog_insert.h"
#include "jet/database.h"
#include "jet/lost_tables.h"
#include "jet/repair.h"

namespace jet {

void fix_lost_tables(FixContext& context, std::span<const Finding>) {
    std::vector<NewCatalogTable> tables;
    {
        Database db(context.copy_path());
        for (const LostTable& lost : find_lost_tables(db)) {
            NewCatalogTable table{lost.tdef_page, lost_table_name(lost.tdef_page), 0};
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
