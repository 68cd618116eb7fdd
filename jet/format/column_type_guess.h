#pragma once
// A column whose type byte is lost: the type told again from what its descriptor still
// says (size, fixed or variable, flags), from the indexes that use it and from the values
// its rows hold. Where several types fit and nothing tells them apart, the guess is one
// that keeps every stored byte (binary of the same size, OLE for a long value).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/format.h"
#include "jet/format/table_def.h"

namespace jet {

class PageFile;

// What the rows hold in one column.
struct ColumnValues {
    size_t values = 0;         // rows holding a non-empty value
    size_t text = 0;           // of those, values that read as text
    size_t outside_fixed = 0;  // rows whose fixed area ends before the column's slot
    std::vector<std::vector<uint8_t>> samples;  // the stored bytes of some of the values
    bool complex_listed = false;  // MSysComplexColumns names the column (a multi-valued field)
};

class Database;

// Whether Access's list of multi-valued fields (MSysComplexColumns) names `column` of the
// table whose definition starts at `tdef_page`.
bool complex_column_listed(Database& db, uint32_t tdef_page, const std::string& column);

// The values of `column` in the rows of `table` (every data page whose owner is the
// definition's first page).
ColumnValues column_values(const PageFile& file, const Layout& layout, const TableDef& table, const Column& column,
                           uint16_t code_page);

struct TypeGuess {
    uint8_t type = data_type::binary;
    std::string reason;  // Spanish: what told the type (or that nothing could)
};

// The type `column` of `table` (named `table_name` in the catalog) most likely had;
// `version_byte` bounds the types the file can hold.
TypeGuess guess_column_type(const TableDef& table, std::string_view table_name, const Column& column,
                            const Layout& layout, uint8_t version_byte, const ColumnValues& values);

// Whether the file's version can hold the type at all.
bool type_known_for(uint8_t type, uint8_t version_byte, const Layout& layout);

}  // namespace jet
