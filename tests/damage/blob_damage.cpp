#include "blob_damage.h"

#include <algorithm>
#include <set>

#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/format/long_value.h"
#include "jet/format/row.h"

namespace damage {

namespace {

constexpr std::size_t kSector = 512;

bool of_catalog(BlobKind kind) {
    return kind == BlobKind::CatalogProperties || kind == BlobKind::CatalogPropertiesPageStart;
}
bool at_page_start(BlobKind kind) {
    return kind == BlobKind::CatalogPropertiesPageStart || kind == BlobKind::SystemLongValuePageStart;
}

struct Target {
    std::string table, column;
    jet::RowPointer first;
};

// The system tables to look in for a kind, as (definition page, name), in page order.
std::vector<std::pair<uint32_t, std::string>> tables_for(jet::Database& db, BlobKind kind) {
    if (of_catalog(kind)) return {{jet::kCatalogPage, "MSysObjects"}};
    std::set<std::pair<uint32_t, std::string>> tables;
    for (const jet::CatalogEntry& e : db.catalog().entries)
        // Access's own tables, flagged system (readers hide them): not the flat tables that
        // hold a user's complex values, nor MSysCompactError, which Access leaves visible.
        if (e.type == jet::object_type::table && (e.flags & jet::kSystemObjectFlags) != 0 &&
            e.name.rfind("MSys", 0) == 0 && e.tdef_page() != jet::kCatalogPage)
            tables.emplace(e.tdef_page(), e.name);
    return {tables.begin(), tables.end()};
}

std::optional<Target> first_value(jet::Database& db, BlobKind kind) {
    for (const auto& [page, name] : tables_for(db, kind)) {
        const jet::TableDefResult& def = db.table_def(page);
        if (!def.table || !def.table->complete) continue;
        const jet::TableDef& t = *def.table;
        std::optional<Target> found;
        jet::Faults faults;
        db.scan_stored_rows(t, name, [&](const jet::RowLocation&, jet::Bytes row) {
            if (found) return;
            const jet::CrackedRow cracked = jet::crack_row(t, db.layout(), row);
            if (!cracked.usable) return;
            for (std::size_t k = 0; k < t.columns.size() && !found; ++k) {
                const jet::Column& c = t.columns[k];
                if (!c.long_value() || !cracked.fields[k].present) continue;
                if (of_catalog(kind) && c.name != "LvProp") continue;
                jet::LongValueDefinition lv;
                if (!jet::parse_long_value_definition(cracked.fields[k].bytes, lv)) continue;
                if (lv.kind == jet::kLongValueInline || lv.length == 0) continue;
                found = Target{name, c.name, lv.first};
            }
        }, faults);
        if (found) return found;
    }
    return std::nullopt;
}

}  // namespace

const char* blob_kind_name(BlobKind kind) {
    switch (kind) {
    case BlobKind::CatalogProperties: return "catalog-properties";
    case BlobKind::CatalogPropertiesPageStart: return "catalog-properties-page-start";
    case BlobKind::SystemLongValue: return "system-long-value";
    case BlobKind::SystemLongValuePageStart: return "system-long-value-page-start";
    }
    return "?";
}

std::vector<BlobKind> all_blob_kinds() {
    return {BlobKind::CatalogProperties, BlobKind::CatalogPropertiesPageStart, BlobKind::SystemLongValue,
            BlobKind::SystemLongValuePageStart};
}

std::optional<BlobDamage> apply_blob_damage(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                            BlobKind kind) {
    jet::Database db(intact);
    const auto target = first_value(db, kind);
    if (!target) return std::nullopt;
    const std::size_t page_size = db.layout().page_size;
    const jet::DataPage page(db.file().page(target->first.page), db.layout());
    if (!page.is_data_page() || !page.is_lval() || target->first.row >= page.row_count()) return std::nullopt;
    const jet::RowSlot slot = page.slot(target->first.row);
    if (!slot.bounds_ok) return std::nullopt;
    const std::size_t sector = at_page_start(kind) ? 0 : (slot.start + (slot.end - slot.start) / 2) / kSector;
    const std::size_t at = std::size_t(target->first.page) * page_size + sector * kSector;
    if (at + kSector > bytes.size()) return std::nullopt;
    std::fill(bytes.begin() + at, bytes.begin() + at + kSector, uint8_t{0});
    return BlobDamage{target->table, target->column, target->first.page, sector,
                      target->table + "." + target->column + ": LVAL page " + std::to_string(target->first.page) +
                          ", row " + std::to_string(target->first.row) + " [" + std::to_string(slot.start) + ", " +
                          std::to_string(slot.end) + "), sector " + std::to_string(sector) + " zeroed"};
}

}  // namespace damage
