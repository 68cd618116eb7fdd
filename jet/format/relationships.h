#pragma once
// Relationships between tables as MSysRelationships lists them (one row per column pair),
// and which rows of a table other tables point at through them.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "jet/format/database.h"

namespace jet {

struct Relationship {
    std::string name;
    std::string table;             // the referencing side (szObject)
    std::string referenced_table;  // szReferencedObject
    // Column names in pair order (icolumn): columns[i] of `table` holds referenced_columns[i].
    std::vector<std::string> columns;
    std::vector<std::string> referenced_columns;
};

// Every relationship with a name, both tables and at least one column pair. Empty when the
// file has no MSysRelationships or its rows cannot be read.
std::vector<Relationship> read_relationships(Database& db);

// Table and column names compare as Access compares them: without regard to case.
bool same_name(std::string_view a, std::string_view b);

// The values of some columns of a row, in a form where equal values compare equal (text
// without regard to case). Empty when any value is NULL: such a row points at nothing.
using ReferenceKey = std::vector<std::string>;
ReferenceKey reference_key(const std::vector<Value>& values, const std::vector<size_t>& columns);

// Positions of the named columns in the table; empty when one is missing.
std::vector<size_t> column_positions(const TableDef& table, const std::vector<std::string>& names);

// For each relationship whose referenced table is `table_name`: the positions of its
// referenced columns in `table` and the keys the referencing table's rows hold.
struct IncomingReferences {
    std::vector<size_t> columns;
    std::set<ReferenceKey> keys;
};
std::vector<IncomingReferences> incoming_references(Database& db, const std::vector<Relationship>& relationships,
                                                    const TableDef& table, const std::string& table_name);

}  // namespace jet
