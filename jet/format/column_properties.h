#pragma once
// Property blobs (MSysObjects.LvProp): the captions, formats, descriptions and column
// properties Access keeps per object. Readers walk them by their own length fields, so a
// blob whose lengths do not hold together sends them astray; the check needs to know.
// The engine itself needs one property: the result type of each calculated column
// (Access keeps the column's stored type in the table definition, but the values are
// written as the result type, which may differ).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/base/bytes.h"

namespace jet {

// A blob as far as it reads: its name list, the blocks it describes and why it stops.
struct PropertyBlob {
    std::string fault;                        // empty when every length holds; Spanish
    std::vector<std::string> names;           // the property names it lists
    std::vector<std::string> blocks;          // each block's name (a column; empty: the object)
    std::vector<std::pair<std::string, uint8_t>> result_types;  // (column, byte-valued "ResultType")
};

// Whether a table's column holds property blobs: the catalog's (page 2) LvProp.
inline bool holds_property_blobs(uint32_t tdef_page, std::string_view column) {
    return tdef_page == 2 && column == "LvProp";
}

// Walks "MR2\0" (Jet 4, ACE) and "KKD\0" (Jet 3) blobs; every offset is bounds-checked.
// An empty blob holds no properties and no fault.
PropertyBlob read_property_blob(Bytes blob);

// (column name, result type) for every property block holding a byte-valued "ResultType";
// empty for a blob that is not an ACE/Jet 4 property list or is damaged before any.
std::vector<std::pair<std::string, uint8_t>> calculated_result_types(Bytes blob);

struct CrackedRow;
struct DecodeContext;
struct TableDef;
// The Name of a catalog row already cracked, to say whose properties a finding concerns;
// empty when it does not decode.
std::string catalog_row_name(const TableDef& catalog, const CrackedRow& row, const DecodeContext& context);

// What of a blob still reads, for a user reading the report: "propiedades X, Y; columnas
// A, B", or "nada".
std::string property_blob_summary(const PropertyBlob& blob);

}  // namespace jet
