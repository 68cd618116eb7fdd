#include "jet/check/lost_tables.h"

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/format/table_def.h"
#include "jet/format/row.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

bool is_tdef_page(Bytes page) { return page.size() > 8 && page[0] == page_type::table_def && page[1] == 0x01; }

bool known_type(uint8_t type) { return type >= data_type::boolean && type <= data_type::datetime_ext; }

// Beyond sound_definition: a user table whose rows decode.
bool readable_user_table(const TableDefResult& read) {
    if (!read.table || !sound_definition(read, read.table->tdef_len)) return false;
    return read.table->table_type == 'N' && rows_decodable(*read.table);
}

// Pages catalog rows name (any row whose Id is a page number owns that page) and every
// page of their definition chains, plus every page some definition before `end` continues into.
std::set<uint32_t> taken_pages(Database& db, uint64_t end) {
    std::set<uint32_t> taken{kCatalogPage};
    for (const CatalogEntry& e : db.catalog().entries)
        if ((static_cast<uint32_t>(e.id) >> 24) == 0) taken.insert(e.tdef_page());
    for (uint32_t p : std::set<uint32_t>(taken))
        if (p < db.file().page_count())
            if (const TableDefResult& read = db.table_def(p); read.table)
                taken.insert(read.table->pages.begin(), read.table->pages.end());
    for (uint32_t p = 3; p < end; ++p) {
        const PageRef page = db.file().fetch(p);
        if (is_tdef_page(page))
            if (const uint32_t next = u32_at(page, 4); next != 0) taken.insert(next);
    }
    return taken;
}

}  // namespace

bool column_layout_sound(const TableDef& t) {
    if (!t.complete || t.columns.empty()) return false;
    std::set<uint16_t> numbers, var_slots;
    std::vector<std::pair<uint32_t, uint32_t>> fixed;
    for (const Column& c : t.columns) {
        if (c.number >= t.max_cols || !numbers.insert(c.number).second) return false;
        if (c.bit_only()) continue;
        if (c.fixed()) fixed.emplace_back(c.fixed_offset, uint32_t(c.fixed_offset) + fixed_size(c));
        else if (c.var_index >= t.num_var_cols || !var_slots.insert(c.var_index).second) return false;
    }
    std::sort(fixed.begin(), fixed.end());
    for (size_t i = 1; i < fixed.size(); ++i)
        if (fixed[i].first < fixed[i - 1].second && fixed[i].second > fixed[i].first) return false;
    return true;
}

bool rows_decodable(const TableDef& t) {
    return column_layout_sound(t) &&
           std::all_of(t.columns.begin(), t.columns.end(), [](const Column& c) { return known_type(c.type); });
}

namespace {

struct Shape {
    AccessTableShape table;
    std::initializer_list<const char*> columns;
};

// Column names as Access creates these tables (Jet 3 to ACE), with the flags it gives them.
const Shape kAccessTables[] = {
    {{"MSysAccessObjects", 0x2}, {"Data", "ID"}},
    {{"MSysAccessXML", 0x2}, {"Id", "LValue", "ObjectGuid", "ObjectName", "Property", "Value"}},
    {{"MSysAccessStorage", 0xA}, {"DateCreate", "DateUpdate", "Id", "Lv", "Name", "ParentId", "Type"}},
    {{"MSysCompactError", 0x0}, {"ErrorCode", "ErrorDescription", "ErrorRecid", "ErrorTable"}},
    {{"MSysComplexColumns", 0x80000000},
     {"ColumnName", "ComplexID", "ComplexTypeObjectID", "ConceptualTableID", "FlatTableID"}},
    {{"MSysIMEXColumns", 0x2},
     {"Attributes", "DataType", "FieldName", "IndexType", "SkipColumn", "SpecID", "Start", "Width"}},
    {{"MSysIMEXSpecs", 0x2},
     {"DateDelim", "DateFourDigitYear", "DateLeadingZeros", "DateOrder", "DecimalPoint", "FieldSeparator",
      "FileType", "SpecID", "SpecName", "SpecType", "StartRow", "TextDelim", "TimeDelim"}},
    {{"MSysModules", 0x2}, {"__A__"}},
    {{"MSysModules2", 0x2}, {"Flags", "Form", "Module", "Name", "ReplicationVersion", "Type", "TypeInfo", "Version"}},
    {{"MSysNameMap", 0xA}, {"GUID", "Id", "Name", "NameMap", "Type"}},
    {{"MSysNavPaneGroupCategories", 0xA}, {"Filter", "Flags", "Id", "Name", "Position", "SelectedObjectID", "Type"}},
    {{"MSysNavPaneGroupToObjects", 0xA}, {"Flags", "GroupID", "Icon", "Id", "Name", "ObjectID", "Position"}},
    {{"MSysNavPaneGroups", 0xA},
     {"Flags", "GroupCategoryID", "Id", "Name", "Object Type Group", "ObjectID", "Position"}},
    {{"MSysNavPaneObjectIDs", 0xA}, {"Id", "Name", "Type"}},
    {{"MSysResources", 0x4000A}, {"Data", "Extension", "Id", "Name", "Type"}},
};

}  // namespace

namespace {

// The empty templates behind multi-valued fields, hidden and flagged 0x80030000: one table
// per value type with a single column "Value", and one for attachments. A user table of
// the same shape that holds no rows loses nothing by being taken for one.
const std::set<std::string> kAttachmentColumns{"FileData", "FileFlags", "FileName", "FileTimeStamp", "FileType", "FileURL"};

std::optional<AccessTableShape> complex_type_shape(const TableDef& def, const std::set<std::string>& names) {
    constexpr uint32_t kFlags = 0x80030000;
    if (def.num_rows != 0) return std::nullopt;
    if (names == kAttachmentColumns) return AccessTableShape{"MSysComplexType_Attachment", kFlags};
    if (names != std::set<std::string>{"Value"}) return std::nullopt;
    switch (def.columns.front().type) {
    case data_type::byte: return AccessTableShape{"MSysComplexType_UnsignedByte", kFlags};
    case data_type::integer: return AccessTableShape{"MSysComplexType_Short", kFlags};
    case data_type::long_integer: return AccessTableShape{"MSysComplexType_Long", kFlags};
    case data_type::single: return AccessTableShape{"MSysComplexType_IEEESingle", kFlags};
    case data_type::double_: return AccessTableShape{"MSysComplexType_IEEEDouble", kFlags};
    case data_type::guid: return AccessTableShape{"MSysComplexType_GUID", kFlags};
    case data_type::decimal: return AccessTableShape{"MSysComplexType_Decimal", kFlags};
    case data_type::text: return AccessTableShape{"MSysComplexType_Text", kFlags};
    default: return std::nullopt;
    }
}

}  // namespace

std::optional<AccessTableShape> access_table_shape(const TableDef& def) {
    std::set<std::string> names;
    for (const Column& c : def.columns) names.insert(c.name);
    for (const Shape& shape : kAccessTables)
        if (names == std::set<std::string>(shape.columns.begin(), shape.columns.end())) return shape.table;
    return complex_type_shape(def, names);
}

bool attachment_flat_table(const TableDef& def) {
    std::set<std::string> names;
    for (const Column& c : def.columns) names.insert(c.name);
    return names.size() > kAttachmentColumns.size() &&
           std::includes(names.begin(), names.end(), kAttachmentColumns.begin(), kAttachmentColumns.end());
}

std::string lost_table_name(uint32_t tdef_page) { return "Tabla_recuperada_" + std::to_string(tdef_page); }

// The first page an inline global map cannot name: past it every page counts as free, as
// the map pass judges them (Access grows the file there), so no lost definition is looked for
// there and a file grown sparse past its pages is not read through. No end for other maps.
namespace {
uint64_t inline_global_map_reach(const PageFile& file, const Layout& layout) {
    const PageRef page1 = file.fetch(1);
    const DataPage page(page1, layout);
    if (!page.is_data_page() || page.row_count() == 0) return UINT64_MAX;
    const Bytes host = page.row(0);
    if (host.size() < 5 || host[0] != 0) return UINT64_MAX;
    return uint64_t(u32_at(host, 1)) + 8 * uint64_t(host.size() - 5);
}
}  // namespace

std::vector<LostTable> find_lost_tables(Database& db) {
    std::vector<LostTable> out;
    if (!db.catalog().readable) return out;
    const auto& free_pages = db.free_pages();
    if (!free_pages) return out;
    const std::vector<bool>& free = *free_pages;
    const PageFile& file = db.file();
    const Layout& layout = db.layout();
    const uint64_t end = std::min<uint64_t>(file.page_count(), inline_global_map_reach(file, layout));
    const std::set<uint32_t> taken = taken_pages(db, end);
    for (uint32_t p = 3; p < end; ++p) {
        if (free[p] || taken.count(p)) continue;
        const PageRef first = file.fetch(p);
        if (!is_tdef_page(first) || u8_at(first, layout.tdef_table_type) != 'N') continue;
        const TableDefResult& read = db.table_def(p);
        if (!readable_user_table(read)) continue;
        const TableDef& def = *read.table;
        bool chain_in_use = true;
        for (uint32_t q : def.pages)
            if (q >= free.size() || free[q]) chain_in_use = false;
            else if (const PageRef chain = file.fetch(q); q != p && !is_tdef_page(chain)) chain_in_use = false;
        if (!chain_in_use) continue;

        const UsageMap map = read_usage_map(file, layout, def.owned_map);
        if (!map.readable || !map.faults.empty() || map.pages_past_end != 0) continue;
        LostTable lost{p, {}, 0};
        bool own_pages = true;
        for (uint32_t q : map.pages) {
            const PageRef bytes = file.fetch(q);
            const DataPage page(bytes, layout);
            if (!page.is_data_page() || page.owner() != p || free[q]) {
                own_pages = false;
                break;
            }
            lost.data_pages.push_back(q);
            for (const RowSlot& s : page.slots())
                if (s.bounds_ok && !s.deleted()) ++lost.live_rows;
        }
        if (own_pages) out.push_back(std::move(lost));
    }
    return out;
}

}  // namespace jet
