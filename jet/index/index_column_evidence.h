#pragma once
// A real index whose definition names a column the table does not have (a damaged
// column number): which column it named, told from what still survives of it.
#include <array>
#include <optional>
#include <string>

#include "jet/format/database.h"
#include "jet/format/table_def.h"

namespace jet {

// The index's columns with the damaged one named again, when the evidence points at
// exactly one column: its entries read against the rows (keys made from that column match
// the tree), and its name (Access names the indexes of its own tables after their key
// columns in order: "ParentIdName", "ObjectIdSid", "IdxFlatTableID"). Nothing when one column is not enough
// to put right, or the evidence is missing or split.
std::optional<std::array<IndexColumn, 10>> rederived_index_columns(Database& db, const TableDef& table,
                                                                   const std::string& table_name, size_t real);

}  // namespace jet
