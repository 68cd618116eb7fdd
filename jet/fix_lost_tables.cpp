// CAT_TABLE_LOST: a user table's definition, sound and in use, that no catalog row names.
// Its catalog row is written again under the name Tabla_recuperada_<page>, so the table
// and every row it holds come back; its own pages are not touched.
#include "jet/catalog_insert.h"
#include "jet/database.h"
#include "jet/lost_tables.h"
#include "jet/repair.h"

namespace jet {

void fix_lost_tables(FixContext& context, std::span<const Finding>) {
    std::vector<NewCatalogTable> tables;
    {
        Database db(context.copy_path());
        for (const LostTable& lost : find_lost_tables(db))
            tables.push_back({lost.tdef_page, lost_table_name(lost.tdef_page)});
    }
    add_catalog_tables(context, tables);
}

}  // namespace jet
