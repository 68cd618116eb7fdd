#include "sector_damage.h"

#include <algorithm>
#include <functional>
#include <map>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"

namespace damage {

namespace {

constexpr std::size_t kSector = 512;

struct Span {
    std::size_t start = 0, end = 0;
};

// The live ordinary rows of a data page.
std::vector<Span> live_rows(const jet::DataPage& page) {
    std::vector<Span> rows;
    for (uint16_t i = 0; i < page.row_count(); ++i) {
        const jet::RowSlot s = page.slot(i);
        if (!s.deleted() && !s.overflow() && s.bounds_ok && s.length() >= 4) rows.push_back({s.start, s.end});
    }
    return rows;
}

bool crosses(const Span& row, std::size_t sector) { return row.start < sector + kSector && row.end > sector; }
bool clear_of(const Span& row, std::size_t sector) { return !crosses(row, sector); }

// The sector of a page to zero, given the rows that matter on it; none when the page does not fit.
using SectorPick = std::function<std::optional<std::size_t>(const std::vector<Span>& rows, std::size_t page_size)>;

// Zeroing the header must leave at least one row whole further down.
std::optional<std::size_t> first_sector(const std::vector<Span>& rows, std::size_t) {
    if (rows.size() < 2 || std::none_of(rows.begin(), rows.end(), [](const Span& r) { return clear_of(r, 0); }))
        return std::nullopt;
    return 0;
}

// The highest sector between the first and the last that holds part of a row, with a row
// whole elsewhere.
std::optional<std::size_t> middle_sector(const std::vector<Span>& rows, std::size_t page_size) {
    if (rows.size() < 2) return std::nullopt;
    for (std::size_t at = page_size - 2 * kSector; at >= kSector; at -= kSector) {
        const bool hit = std::any_of(rows.begin(), rows.end(), [&](const Span& r) { return crosses(r, at); });
        const bool whole = std::any_of(rows.begin(), rows.end(), [&](const Span& r) { return clear_of(r, at); });
        if (hit && whole) return at;
    }
    return std::nullopt;
}

std::optional<std::size_t> last_sector(const std::vector<Span>& rows, std::size_t page_size) {
    const std::size_t at = page_size - kSector;
    if (rows.size() < 2 || std::none_of(rows.begin(), rows.end(), [&](const Span& r) { return clear_of(r, at); }))
        return std::nullopt;
    return at;
}

// The highest sector past the first that holds part of a row.
std::optional<std::size_t> sector_in_rows(const std::vector<Span>& rows, std::size_t page_size) {
    for (std::size_t at = page_size - kSector; at >= kSector; at -= kSector)
        if (std::any_of(rows.begin(), rows.end(), [&](const Span& r) { return crosses(r, at); })) return at;
    return std::nullopt;
}

struct Target {
    uint32_t page = 0;
    std::size_t sector = 0;
};

// The first data page of a user table with rows where `pick` finds a sector.
std::optional<Target> user_page(jet::Database& db, const SectorPick& pick) {
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete) continue;
        jet::Faults faults;
        for (uint32_t p : db.data_pages(*def.table, e.name, faults)) {
            const jet::DataPage page(db.file().page(p), db.layout());
            if (const auto at = pick(live_rows(page), db.layout().page_size)) return Target{p, *at};
        }
    }
    return std::nullopt;
}

// The first catalog page holding a user table's row where `pick`, given those rows, finds a sector.
std::optional<Target> catalog_page(jet::Database& db, const SectorPick& pick) {
    std::map<uint32_t, std::vector<Span>> tables_on;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::DataPage page(db.file().page(e.page), db.layout());
        const jet::RowSlot s = page.slot(e.row);
        if (s.bounds_ok) tables_on[e.page].push_back({s.start, s.end});
    }
    for (const auto& [p, rows] : tables_on) {
        const jet::DataPage page(db.file().page(p), db.layout());
        const std::vector<Span> all = live_rows(page);
        // The header goes: some table's row must lie whole past it. Inside rows: a table's row is hit.
        const auto at = pick(rows, db.layout().page_size);
        if (at && (*at != 0 || first_sector(all, 0))) return Target{p, *at};
    }
    return std::nullopt;
}

// The definition of the first user table that stores rows.
std::optional<jet::TableDef> table_with_rows(jet::Database& db) {
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete || def.table->num_rows == 0) continue;
        return *def.table;
    }
    return std::nullopt;
}

std::optional<Target> index_page(jet::Database& db) {
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete || def.table->num_rows == 0) continue;
        for (const jet::RealIndex& index : def.table->real_indexes) {
            const jet::Bytes page = db.file().page(index.root_page);
            if (index.root_page != 0 && !page.empty() &&
                (page[0] == jet::page_type::index_node || page[0] == jet::page_type::index_leaf))
                return Target{index.root_page, 0};
        }
    }
    return std::nullopt;
}

std::optional<Target> definition_page(jet::Database& db) {
    const auto def = table_with_rows(db);
    if (!def) return std::nullopt;
    const std::size_t page_size = db.layout().page_size;
    const std::size_t used = def->pages.size() > 1 ? page_size : std::min(def->parsed_length, page_size);
    return Target{def->page, (used - 1) / kSector * kSector};
}

std::optional<Target> map_page(jet::Database& db) {
    const auto def = table_with_rows(db);
    if (!def) return std::nullopt;
    const jet::RowPointer at = jet::RowPointer::from_u32(def->owned_map);
    const jet::DataPage page(db.file().page(at.page), db.layout());
    if (!page.is_data_page() || at.row >= page.row_count() || !page.slot(at.row).bounds_ok) return std::nullopt;
    return Target{at.page, page.slot(at.row).start / kSector * kSector};
}

std::optional<Target> target_of(jet::Database& db, SectorKind kind) {
    switch (kind) {
    case SectorKind::UserFirst: return user_page(db, first_sector);
    case SectorKind::UserMiddle: return user_page(db, middle_sector);
    case SectorKind::UserLast: return user_page(db, last_sector);
    case SectorKind::CatalogFirst:
        return catalog_page(db, [](const std::vector<Span>& rows, std::size_t) -> std::optional<std::size_t> {
            if (std::any_of(rows.begin(), rows.end(), [](const Span& r) { return clear_of(r, 0); })) return 0;
            return std::nullopt;
        });
    case SectorKind::CatalogRows: return catalog_page(db, sector_in_rows);
    case SectorKind::IndexPage: return index_page(db);
    case SectorKind::TableDefPage: return definition_page(db);
    case SectorKind::UsageMapPage: return map_page(db);
    }
    return std::nullopt;
}

}  // namespace

const char* sector_kind_name(SectorKind kind) {
    switch (kind) {
    case SectorKind::UserFirst: return "user-first-sector";
    case SectorKind::UserMiddle: return "user-middle-sector";
    case SectorKind::UserLast: return "user-last-sector";
    case SectorKind::CatalogFirst: return "catalog-first-sector";
    case SectorKind::CatalogRows: return "catalog-rows-sector";
    case SectorKind::IndexPage: return "index-page-sector";
    case SectorKind::TableDefPage: return "definition-sector";
    case SectorKind::UsageMapPage: return "usage-map-sector";
    }
    return "?";
}

std::vector<SectorKind> met_sector_kinds() {
    return {SectorKind::UserFirst,   SectorKind::UserMiddle, SectorKind::UserLast,     SectorKind::CatalogFirst,
            SectorKind::CatalogRows, SectorKind::IndexPage,  SectorKind::TableDefPage, SectorKind::UsageMapPage};
}

std::vector<SectorKind> unmet_sector_kinds() { return {}; }

std::optional<SectorDamage> apply_sector_damage(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                                SectorKind kind) {
    jet::Database db(intact);
    const auto t = target_of(db, kind);
    if (!t) return std::nullopt;
    const std::size_t at = std::size_t(t->page) * db.layout().page_size + t->sector;
    if (at + kSector > bytes.size()) return std::nullopt;
    std::fill(bytes.begin() + at, bytes.begin() + at + kSector, uint8_t{0});
    return SectorDamage{t->page, t->sector,
                        "page " + std::to_string(t->page) + ", bytes " + std::to_string(t->sector) + "-" +
                            std::to_string(t->sector + kSector - 1) + " zeroed"};
}

}  // namespace damage
