#pragma once
// Tables whose catalog row is gone: a user table's definition that no catalog row names,
// still in use by the global map, complete and sound, with a readable map of pages that
// are all its own. Dropped tables have their pages flagged free, so they never count.
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

class Database;

struct LostTable {
    uint32_t tdef_page = 0;
    std::vector<uint32_t> data_pages;  // from its owned map, ascending
    uint32_t live_rows = 0;            // live slots on those pages
};

// Ascending by page. Empty when the catalog or the global map cannot be read (without
// them nothing tells a lost table from a dropped one).
std::vector<LostTable> find_lost_tables(Database& db);

// "Tabla_recuperada_<page>": the name a table found again is given in the catalog.
std::string lost_table_name(uint32_t tdef_page);

}  // namespace jet
