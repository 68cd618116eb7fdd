// CAT_ROW_GARBLED: a catalog row that decodes but describes no object (zeros written over
// its name or its Id); CAT_ROW_UNREADABLE left once the catalog's definition counts are
// right: a row without Id, name or type. Nothing tells what such a row was, so it is saved
// to the recovery file and dropped; a table it named whose definition is still sound is
// then found by the search for lost tables and given a catalog row again.
// A table's row whose fixed part alone went to zeros still has its Id and name: the
// definition its Id names says it is a table, and its name says which flags Access gives
// it, so it is mended in place.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/repair/fix_catalog.h"
#include "jet/check/lost_tables.h"
#include "jet/repair/repair.h"
#include "jet/format/row.h"

namespace jet {
namespace {

// The flags Access gives a table of this name (and, for its own tables, these columns).
uint32_t table_flags(const CatalogEntry& e, const TableDef& def) {
    if (e.name.rfind("MSysComplexType_", 0) == 0) return 0x80030000;
    if (complex_flat_table(e.name)) return 0x800A0000;
    if (const auto shape = access_table_shape(def); shape && shape->name == e.name) return shape->flags;
    if (is_system_object(e)) return 0x80000000;
    return 0;
}

double days_now() {
    using namespace std::chrono;
    return 25569.0 + duration<double>(system_clock::now().time_since_epoch()).count() / 86400.0;
}

int32_t tables_folder(const Catalog& catalog) {
    for (const CatalogEntry& e : catalog.entries)
        if (e.type == object_type::container && e.name == "Tables" && e.parent_id == kRootContainerParent) return e.id;
    return 0x0F000001;
}

// Writes back the fixed fields of a table's row whose fixed part reads as zeros; false
// when the row is not a table's (its Id names no definition) or cannot be found.
bool mend_table_row(FixContext& context, Database& db, const TableDef& catalog_def, const CatalogEntry& e) {
    const uint32_t tdef = e.tdef_page();
    if ((static_cast<uint32_t>(e.id) >> 24) != 0 || tdef < 3 || tdef >= context.page_count()) return false;
    const TableDefResult& table = db.table_def(tdef);
    if (!table.table || !table.table->complete) return false;
    const auto at = locate_stored_row(context, e.page, e.row);
    if (!at) return false;
    std::vector<uint8_t> page = context.read_page(at->page);
    const Layout& layout = db.layout();
    const Bytes row = Bytes(page).subspan(at->start, at->end - at->start);
    const CrackedRow cracked = crack_row(catalog_def, layout, row);
    if (!cracked.usable) return false;
    auto put = [&](const char* column, uint64_t value, size_t width) {
        for (size_t k = 0; k < catalog_def.columns.size(); ++k) {
            const Field& f = cracked.fields[k];
            if (catalog_def.columns[k].name != column || !f.present || f.bytes.size() != width) continue;
            const size_t offset = size_t(f.bytes.data() - page.data());
            for (size_t i = 0; i < width; ++i) page[offset + i] = uint8_t(value >> (8 * i));
        }
    };
    uint64_t now;
    const double days = days_now();
    std::memcpy(&now, &days, sizeof now);
    if (e.type == 0) put("Type", uint16_t(object_type::table), 2);
    if (e.type != 0 && e.type != object_type::table) return false;
    if (e.parent_id == 0) put("ParentId", uint32_t(tables_folder(db.catalog())), 4);
    if (!e.dated) {
        put("DateCreate", now, 8);
        put("DateUpdate", now, 8);
    }
    if (e.flags == 0) put("Flags", table_flags(e, *table.table), 4);
    context.write_page(at->page, page);
    return true;
}

struct BadRow {
    uint32_t page;
    uint16_t row;
    std::string why;
};

void drop_catalog_rows(FixContext& context, bool garbled, bool unreadable) {
    std::vector<BadRow> bad;
    Database& db = context.database();
    const TableDefResult& def = db.table_def(kCatalogPage);
    if (!def.table) return;
    const Catalog& catalog = db.catalog();
    if (garbled)
        for (const CatalogEntry& e : catalog.entries) {
            std::string why = garbled_catalog_entry(e);
            if (why.empty()) continue;
            // Name and Id read: only the fixed part went.
            const bool only_fixed_part = e.id != 0 && !e.name.empty() &&
                                         std::none_of(e.name.begin(), e.name.end(),
                                                      [](char c) { return static_cast<unsigned char>(c) < 0x20; });
            if (only_fixed_part && mend_table_row(context, db, *def.table, e)) continue;
            bad.push_back({e.page, e.row, std::move(why)});
        }
    if (unreadable)
        for (const Fault& f : catalog.faults)
            if (f.kind == FaultKind::CatalogRow && f.row >= 0)
                bad.push_back({f.page, static_cast<uint16_t>(f.row), "le falta el identificador, el nombre o el tipo"});
    for (const BadRow& b : bad) {
        save_row(context, *def.table, "MSysObjects", b.page, b.row,
                 "la fila del catálogo no describe ningún objeto (" + b.why + "); se quita");
        delete_row_slot(context, b.page, b.row);
    }
}

}  // namespace

void fix_garbled_catalog_rows(FixContext& context, std::span<const Finding>) {
    drop_catalog_rows(context, true, false);
}

void fix_unreadable_catalog_rows(FixContext& context, std::span<const Finding> findings) {
    fix_table_def_counts(context, findings);
    drop_catalog_rows(context, false, true);
}

}  // namespace jet
