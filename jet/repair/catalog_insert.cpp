#include "jet/repair/catalog_insert.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <optional>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/data_page_insert.h"
#include "jet/format/database.h"
#include "jet/repair/fix_catalog.h"
#include "jet/format/fix_data_page.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/repair.h"
#include "jet/format/row_encode.h"
#include "jet/format/table_pages.h"
#include "jet/repair/usage_map_writer.h"

namespace jet {
namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 counted from 1899-12-30

std::vector<uint8_t> le_bytes(uint64_t value, size_t width) {
    std::vector<uint8_t> out(width);
    for (size_t i = 0; i < width; ++i) out[i] = uint8_t(value >> (8 * i));
    return out;
}

std::vector<uint8_t> date_bytes(double days) {
    uint64_t bits;
    std::memcpy(&bits, &days, sizeof bits);
    return le_bytes(bits, 8);
}

double days_now() {
    using namespace std::chrono;
    const double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return kUnixEpochDays + seconds / 86400.0;
}

// Names here are ASCII: one byte each in Jet 3, UCS-2 without compression in Jet 4.
std::vector<uint8_t> text_bytes(const std::string& text, const Layout& layout) {
    std::vector<uint8_t> out;
    for (char c : text) {
        out.push_back(uint8_t(c));
        if (!layout.jet3) out.push_back(0);
    }
    return out;
}

std::string folded(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The catalog row of a local table to copy the shape from: a user table's if there is
// one, else any table's (system flags are not copied).
struct Template {
    CrackedRow cracked;
    std::vector<uint8_t> bytes;  // the row, kept alive for cracked's spans
};

std::optional<Template> template_row(const FixContext& context, const TableDef& def, const Catalog& catalog) {
    std::vector<const CatalogEntry*> candidates;
    const std::vector<CatalogEntry> users = user_tables(catalog);  // outlives the pointers taken
    for (const CatalogEntry& e : users)
        if (!e.linked()) candidates.push_back(&e);
    for (const CatalogEntry& e : catalog.entries)
        if (e.type == object_type::table) candidates.push_back(&e);
    for (const CatalogEntry* e : candidates) {
        const auto at = locate_stored_row(context, e->page, e->row);
        if (!at) continue;
        const std::vector<uint8_t> page = context.read_page(at->page);
        Template t;
        t.bytes.assign(page.begin() + at->start, page.begin() + at->end);
        t.cracked = crack_row(def, *context.header().layout, t.bytes);
        if (t.cracked.usable && t.cracked.faults.empty()) return t;
    }
    return std::nullopt;
}

int32_t tables_folder(const Catalog& catalog, int32_t fallback) {
    for (const CatalogEntry& e : catalog.entries)
        if (e.type == object_type::container && e.name == "Tables" && e.parent_id == kRootContainerParent) return e.id;
    return fallback;
}

// Names in the folder, folded as Access compares them.
std::set<std::string> names_in(const Catalog& catalog, int32_t folder) {
    std::set<std::string> used;
    for (const CatalogEntry& e : catalog.entries)
        if (e.parent_id == folder) used.insert(folded(e.name));
    return used;
}

// The wanted name, or the first "<wanted>_<n>" that neither the folder nor this run took.
std::string free_name(const std::set<std::string>& taken, const std::string& wanted,
                      const std::set<std::string>& given) {
    std::string name = wanted;
    for (int n = 2; taken.count(folded(name)) || given.count(folded(name)); ++n)
        name = wanted + "_" + std::to_string(n);
    return name;
}

std::vector<FieldValue> new_row_fields(const TableDef& def, const Template& shape, const Layout& layout,
                                       const NewCatalogTable& table, int32_t folder, const std::string& name,
                                       double now) {
    std::vector<FieldValue> fields(def.columns.size());
    for (size_t k = 0; k < def.columns.size(); ++k) {
        const std::string& column = def.columns[k].name;
        FieldValue& f = fields[k];
        f.present = true;
        if (column == "Id") f.bytes = le_bytes(table.tdef_page, 4);
        else if (column == "ParentId") f.bytes = le_bytes(uint32_t(folder), 4);
        else if (column == "Name") f.bytes = text_bytes(name, layout);
        else if (column == "Type") f.bytes = le_bytes(uint16_t(object_type::table), 2);
        else if (column == "Flags") f.bytes = le_bytes(table.flags, 4);
        else if (column == "DateCreate" || column == "DateUpdate") f.bytes = date_bytes(now);
        else if (column == "Owner" && k < shape.cracked.fields.size() && shape.cracked.fields[k].present)
            f.bytes.assign(shape.cracked.fields[k].bytes.begin(), shape.cracked.fields[k].bytes.end());
        else f.present = false;
    }
    return fields;
}

[[noreturn]] void cannot(const std::string& why) {
    throw EngineError("No se puede volver a dar de alta una tabla en el catálogo: " + why + ".");
}

// Places the row on a catalog page with room, or on a new page the catalog's map lists.
void place_row(FixContext& context, const TableDef& def, const std::vector<uint8_t>& row) {
    const Layout& layout = *context.header().layout;
    const PageFile& file = context.pages();
    const auto pages = mapped_data_pages(file, layout, def);
    if (!pages) cannot("el mapa de páginas del catálogo no se puede leer");
    for (uint32_t p : *pages) {
        std::vector<uint8_t> bytes = context.read_page(p);
        if (add_row_to_page(bytes, layout, row)) {
            context.write_page(p, bytes);
            return;
        }
    }
    std::vector<uint8_t> fresh = empty_data_page(layout, kCatalogPage);
    if (!add_row_to_page(fresh, layout, row)) cannot("la fila no cabe en una página");
    const uint32_t number = context.page_count();
    std::vector<uint32_t> listed = read_map_pages(context, layout, def.owned_map).value_or(std::vector<uint32_t>{});
    listed.push_back(number);
    context.append_page(fresh);
    if (!write_map_pages(context, layout, def.owned_map, listed))
        cannot("el mapa de páginas del catálogo no admite una página más");
}

}  // namespace

std::vector<std::string> add_catalog_tables(FixContext& context, const std::vector<NewCatalogTable>& tables) {
    std::vector<std::string> names;
    if (tables.empty()) return names;
    const Layout& layout = *context.header().layout;
    const double now = days_now();
    std::set<std::string> given;
    // Read once: the rows added below are tables, so the folder, the model row's Owner and
    // the names taken stay as read, plus the names given here (`given`). Reading the whole
    // catalog again for each row made adding thousands of tables quadratic.
    Database& db = context.database();
    const TableDefResult& read = db.table_def(kCatalogPage);
    if (!read.table || !read.table->complete) cannot("la definición del catálogo no se puede leer");
    const Catalog& catalog = db.catalog();
    const auto shape = template_row(context, *read.table, catalog);
    if (!shape) cannot("no hay ninguna fila de tabla legible que sirva de modelo");
    int32_t fallback = 0;
    for (size_t k = 0; k < read.table->columns.size(); ++k)
        if (read.table->columns[k].name == "ParentId" && shape->cracked.fields[k].present)
            fallback = static_cast<int32_t>(u32_at(shape->cracked.fields[k].bytes, 0));
    const int32_t folder = tables_folder(catalog, fallback);
    const std::set<std::string> taken = names_in(catalog, folder);
    for (const NewCatalogTable& table : tables) {
        const std::string name = free_name(taken, table.name, given);
        const auto row = encode_row(*read.table, layout,
                                    new_row_fields(*read.table, *shape, layout, table, folder, name, now));
        if (!row) cannot("la fila nueva no se puede componer con la definición del catálogo");
        place_row(context, *read.table, *row);
        given.insert(folded(name));
        names.push_back(name);
    }
    fix_row_counts(context, {});
    rebuild_table_indexes(context, kCatalogPage);
    return names;
}

}  // namespace jet
