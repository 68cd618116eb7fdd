#pragma once
// A table whose definition is beyond saving (its columns cannot be read, so neither can
// its rows) leaves the database: every live row's bytes and the definition's pages go to
// the recovery file first, then its catalog row is flagged deleted and its definition,
// data and index pages are flagged free in the global map. The catalog's row count and
// indexes are rebuilt once all such tables are gone.
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

class FixContext;

struct UnreadableTable {
    std::string name;
    uint32_t tdef_page = 0;  // as the catalog row says
    uint32_t row_page = 0;   // the catalog row
    uint16_t row_slot = 0;
};

// Saves and drops each table. Pages are found by what they say of themselves (owner field
// of data and index pages, the definition's chain), never by the broken definition.
void drop_unreadable_tables(FixContext& context, const std::vector<UnreadableTable>& tables,
                            const std::string& reason);

// Every user table of the working copy whose definition is missing or whose column
// layout cannot frame a row (a column of unknown type alone does not count: the rest of
// the row still reads).
std::vector<UnreadableTable> unreadable_user_tables(FixContext& context);

}  // namespace jet
