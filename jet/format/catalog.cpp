#include "jet/format/catalog.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "jet/format/column_properties.h"

namespace jet {
namespace {

const Value* value_of(const TableDef& def, const std::vector<Value>& values, const char* name) {
    for (size_t i = 0; i < def.columns.size() && i < values.size(); ++i)
        if (def.columns[i].name == name) return &values[i];
    return nullptr;
}

template <typename T>
bool get(const Value* v, T& out) {
    if (!v) return false;
    if (auto p = std::get_if<T>(v)) {
        out = *p;
        return true;
    }
    return false;
}

bool starts_with_msys(const std::string& name) {
    static const char prefix[] = "msys";
    if (name.size() < 4) return false;
    for (size_t i = 0; i < 4; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

bool catalog_entry_from_row(const TableDef& def, const std::vector<Value>& values, CatalogEntry& out) {
    if (!get(value_of(def, values, "Id"), out.id)) return false;
    if (!get(value_of(def, values, "Name"), out.name)) return false;
    if (!get(value_of(def, values, "Type"), out.type)) return false;
    get(value_of(def, values, "ParentId"), out.parent_id);
    DateTime created{0}, updated{0};
    get(value_of(def, values, "DateCreate"), created);
    get(value_of(def, values, "DateUpdate"), updated);
    out.dated = created.days != 0 || updated.days != 0;
    int32_t flags = 0;
    if (get(value_of(def, values, "Flags"), flags)) out.flags = static_cast<uint32_t>(flags);
    get(value_of(def, values, "Database"), out.database);
    get(value_of(def, values, "Connect"), out.connect);
    get(value_of(def, values, "ForeignName"), out.foreign_name);
    Binary properties;
    if (out.type == object_type::table && get(value_of(def, values, "LvProp"), properties))
        out.result_types = calculated_result_types(properties.bytes);
    return true;
}

bool complex_flat_table(const std::string& name) {
    if (name.size() <= 35 || name.rfind("f_", 0) != 0 || name[34] != '_') return false;
    return std::all_of(name.begin() + 2, name.begin() + 34, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string garbled_catalog_entry(const CatalogEntry& e) {
    if (e.name.empty()) return "no tiene nombre";
    if (std::any_of(e.name.begin(), e.name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return "su nombre contiene caracteres de control";
    if (e.id == 0) return "su identificador es 0";
    if (!e.dated) return "sus campos fijos (tipo, fechas, atributos) están a cero";
    // Access flags the tables behind multi-valued columns as system ones (some of its other
    // tables keep flags 0); readers show a table whose flags are 0.
    if (e.type == object_type::table && e.flags == 0 &&
        (e.name.rfind("MSysComplexType_", 0) == 0 || complex_flat_table(e.name)))
        return "los atributos de una tabla del sistema están a cero";
    return {};
}

bool is_system_object(const CatalogEntry& e) { return (e.flags & kSystemObjectFlags) != 0 || starts_with_msys(e.name); }

std::vector<CatalogTable> every_table(const Catalog& catalog, uint32_t page_count) {
    std::vector<CatalogTable> out{{"MSysObjects", kCatalogPage}};
    std::set<uint32_t> seen{kCatalogPage};
    for (const CatalogEntry& e : catalog.entries) {
        const uint32_t page = e.tdef_page();
        if (e.type != object_type::table || page <= kCatalogPage || page >= page_count) continue;
        if (seen.insert(page).second) out.push_back({e.name, page});
    }
    return out;
}

std::vector<CatalogEntry> user_tables(const Catalog& catalog) {
    const CatalogEntry* tables_container = nullptr;
    for (const auto& e : catalog.entries)
        if (e.type == object_type::container && e.name == "Tables" && e.parent_id == kRootContainerParent)
            tables_container = &e;
    std::vector<CatalogEntry> out;
    for (const auto& e : catalog.entries) {
        if (e.type != object_type::table || is_system_object(e)) continue;
        if (tables_container && e.parent_id != tables_container->id) continue;
        out.push_back(e);
    }
    return out;
}

std::vector<CatalogEntry> linked_tables(const Catalog& catalog) {
    std::vector<CatalogEntry> out;
    for (const auto& e : catalog.entries)
        if (e.linked() && !is_system_object(e)) out.push_back(e);
    return out;
}

}  // namespace jet
