#pragma once
// The system catalog (MSysObjects, TDEF at page 2): its rows and the tables they name.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/fault.h"
#include "jet/format/table_def.h"
#include "jet/base/value.h"

namespace jet {

inline constexpr uint32_t kCatalogPage = 2;

namespace object_type {
inline constexpr int16_t table = 1;
inline constexpr int16_t container = 3;
inline constexpr int16_t odbc_linked_table = 4;
inline constexpr int16_t query = 5;
inline constexpr int16_t linked_table = 6;
}  // namespace object_type

inline constexpr uint32_t kSystemObjectFlags = 0x80000002;
inline constexpr int32_t kRootContainerParent = 0x0F000000;

struct CatalogEntry {
    int32_t id = 0;
    int32_t parent_id = 0;
    std::string name;
    int16_t type = 0;
    uint32_t flags = 0;
    std::string database;      // linked tables: source database
    std::string connect;       // linked tables: connect string
    std::string foreign_name;  // linked tables: name in the source
    uint32_t page = 0;         // where the row lives
    uint16_t row = 0;
    // Access dates every row it writes: both dates 0 means zeros over the row's fixed part.
    bool dated = true;
    // Tables: the result type of each calculated column, from the row's property blob.
    std::vector<std::pair<std::string, uint8_t>> result_types;

    uint32_t tdef_page() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
    bool linked() const { return type == object_type::linked_table || type == object_type::odbc_linked_table; }
};

struct Catalog {
    bool readable = false;  // the catalog's definition could be read
    std::vector<CatalogEntry> entries;
    Faults faults;
};

// Builds an entry from a decoded MSysObjects row; false when Id, Name or Type is missing.
bool catalog_entry_from_row(const TableDef& catalog_def, const std::vector<Value>& values, CatalogEntry& out);

// Why a decoded catalog row cannot be the row of any object (a name Access would never
// accept, an Id of 0): zeros or garbage over part of it. Empty when nothing says so.
std::string garbled_catalog_entry(const CatalogEntry& e);
// f_<32 hex digits>_<column>: the flat table of a multi-valued column.
bool complex_flat_table(const std::string& name);

bool is_system_object(const CatalogEntry& entry);

// Local user tables, in catalog order: Type 1, not system by flags or MSys name, under
// the Tables container when the catalog has one.
std::vector<CatalogEntry> user_tables(const Catalog& catalog);

struct CatalogTable {
    std::string name;
    uint32_t tdef_page = 0;
};
// Every table of the file: the catalog's own (MSysObjects) first, also when the row naming
// it is lost, then each table the catalog names, once, in catalog order. A definition page
// a file of `page_count` pages cannot hold there (0, 1, past the end) is left out.
std::vector<CatalogTable> every_table(const Catalog& catalog, uint32_t page_count);

// Rows describing linked tables (Jet or ODBC); they hold no rows of their own here.
std::vector<CatalogEntry> linked_tables(const Catalog& catalog);

}  // namespace jet
