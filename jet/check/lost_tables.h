#pragma once
// Tables whose catalog row is gone: a user table's definition that no catalog row names,
// still in use by the global map, complete and sound, with a readable map of pages that
// are all its own. Dropped tables have their pages flagged free, so they never count.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jet {

class Database;
struct TableDef;

// Whether the column layout can frame rows: the definition parsed whole, has columns,
// their numbers are distinct and below max_cols, their variable slots distinct and below
// the slot count, and no two fixed columns overlap. Without it no row can be read.
bool column_layout_sound(const TableDef& def);

// The layout is sound and every column's type is one Access knows (a type newer than
// the file's version is left to the check: the version byte may be what is wrong).
bool rows_decodable(const TableDef& def);

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

// Access keeps tables of its own (navigation pane, saved import settings, ...) as plain
// user tables hidden by their catalog flags. A lost definition with exactly the columns
// of one of them is that table: it comes back under its own name with its own flags.
struct AccessTableShape {
    const char* name;
    uint32_t flags;
};
// Nothing when the column names are not those of one of Access's own tables.
std::optional<AccessTableShape> access_table_shape(const TableDef& def);
// The hidden table behind an attachment field: the attachment columns and its links.
bool attachment_flat_table(const TableDef& def);

}  // namespace jet
