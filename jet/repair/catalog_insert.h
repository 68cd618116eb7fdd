#pragma once
// Adding catalog rows for local tables to the working copy (tables found again).
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

class FixContext;

struct NewCatalogTable {
    uint32_t tdef_page = 0;
    std::string name;  // wanted name; a number is appended when the Tables folder has it
    uint32_t flags = 0;
};

// One catalog row per table, shaped like the row of a table already in the catalog
// (its Owner kept; Id = definition page, ParentId = the Tables folder, Type 1, Flags 0,
// both dates now, everything else NULL), placed on a catalog data page with room or on a
// new page added to the catalog's page map. Then the catalog's row count and indexes are
// rebuilt. Returns the names given. Throws EngineError (Spanish) when the catalog cannot
// take the rows; the repair then leaves the database as it was.
std::vector<std::string> add_catalog_tables(FixContext& context, const std::vector<NewCatalogTable>& tables);

}  // namespace jet
