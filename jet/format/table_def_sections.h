#pragma once
// Where each section of a parsed table definition starts in its logical buffer, for
// fixes that rewrite a definition entry by entry.
#include <cstddef>
#include <optional>
#include <vector>

#include "jet/base/format.h"
#include "jet/format/table_def.h"

namespace jet {

struct TableDefSections {
    size_t count_entries = 0;    // one per real index
    size_t columns = 0;          // column descriptors
    size_t column_names = 0;
    size_t real_indexes = 0;     // real index descriptors
    size_t logical_indexes = 0;  // logical index entries
    // Start of each logical index name, then the end of the last one (the long-value
    // map trailer starts there).
    std::vector<size_t> logical_names;
};

// nullopt when the definition did not parse whole or a name runs past the buffer.
std::optional<TableDefSections> table_def_sections(const TableDef& t, const Layout& layout);

}  // namespace jet
