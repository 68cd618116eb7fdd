// Usage maps that disagree with the pages (GMAP_INVALID, MAP_*, TABLE_PAGE_UNMAPPED,
// LV_PAGE_UNMAPPED, and table maps naming pages a truncation cut away): every table's
// owned-page and free-space maps and every long-value column's maps are rebuilt from what
// the pages hold, then the global map is rebuilt from the same walk the check makes.
//
// What the pages hold decides, never the old map alone:
// - a table owns the data pages whose owner field names it: those its map lists, plus
//   unlisted ones that still hold live rows and are not flagged free (a freed page may
//   keep the rows of a dropped table: those are not adopted);
// - a long-value column owns the LVAL pages its map lists plus those its rows reach;
// - a free-space map only lists pages its owner owns;
// - the global map marks every page some structure uses as used. A page nobody uses keeps
//   its bit: it may hold what a later fix or a user wants back, so nothing is freed here.
// Index maps are left to the index rebuild.
#include <algorithm>
#include <map>
#include <set>

#include "jet/check/check_maps.h"
#include "jet/check/check_passes.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/repair/repair.h"
#include "jet/format/row.h"
#include "jet/format/table_pages.h"
#include "jet/check/unlisted_pages.h"
#include "jet/repair/usage_map_writer.h"

namespace jet {
namespace {

// The check's own walk over the working copy, findings discarded: what it claims is
// exactly what the re-check will hold the maps against.
struct StructureWalk {
    explicit StructureWalk(Database& copy)
        : db(copy), ctx{db, db.file(), db.header(), db.layout(), sink, PageClaims(db.file().page_count()), {}} {
        ctx.claims.claim(0, Claim::Header, 0);
        ctx.claims.claim(1, Claim::GlobalMap, 0);
        check_catalog(ctx);
    }
    Database& db;
    FindingSink sink;
    CheckContext ctx;
};

bool has_live_rows(const DataPage& page) {
    for (uint16_t i = 0; i < page.row_count(); ++i) {
        const RowSlot slot = page.slot(i);
        if (slot.bounds_ok && !slot.deleted()) return true;
    }
    return false;
}

std::vector<uint32_t> sorted(std::set<uint32_t> pages) { return {pages.begin(), pages.end()}; }

std::vector<uint32_t> intersect(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    std::vector<uint32_t> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

class TableMaps {
public:
    TableMaps(FixContext& context, Database& db, const TableDef& def, const std::vector<uint32_t>& unlisted_live)
        : context_(context), db_(db), def_(def), unlisted_live_(unlisted_live) {}

    void rebuild() {
        const std::vector<uint32_t> owned = owned_data_pages();
        rewrite(def_.owned_map, def_.free_map, owned);
        const auto reached = long_value_pages_of_rows(owned);
        for (const LongValueMaps& lv : def_.long_value_maps) {
            const Column* column = def_.column_by_number(lv.column_number);
            if (!column || !column->long_value()) continue;
            std::set<uint32_t> pages;
            if (auto it = reached.find(lv.column_number); it != reached.end()) pages = it->second;
            for (uint32_t p : listed(lv.owned_map))
                if (const PageRef bytes = file().fetch(p); DataPage(bytes, layout()).is_lval()) pages.insert(p);
            rewrite(lv.owned_map, lv.free_map, sorted(std::move(pages)));
        }
    }

private:
    const PageFile& file() const { return db_.file(); }
    const Layout& layout() const { return db_.layout(); }

    std::vector<uint32_t> listed(uint32_t row_pointer) const {
        return read_map_pages(context_, layout(), row_pointer).value_or(std::vector<uint32_t>{});
    }

    std::vector<uint32_t> owned_data_pages() {
        std::set<uint32_t> owned;
        for (uint32_t p : listed(def_.owned_map)) {
            const PageRef page_bytes = file().fetch(p);
            const DataPage page(page_bytes, layout());
            if (page.is_data_page() && page.owner() == def_.page) owned.insert(p);
        }
        UnlistedPageJudge judge(file(), layout());
        for (uint32_t p : unlisted_live_)
            if (!owned.count(p) && judge.rows_missing(def_, p)) owned.insert(p);
        return sorted(std::move(owned));
    }

    std::map<uint16_t, std::set<uint32_t>> long_value_pages_of_rows(const std::vector<uint32_t>& owned) const {
        std::map<uint16_t, std::set<uint32_t>> out;
        if (def_.long_value_maps.empty() || !def_.complete) return out;
        for (uint32_t p : owned) {
            const PageRef page_bytes = file().fetch(p);
            const DataPage page(page_bytes, layout());
            for (uint16_t i = 0; i < page.row_count(); ++i) {
                const Bytes row = locate_row(file(), page, def_.page, i);
                if (row.empty()) continue;
                const CrackedRow cracked = crack_row(def_, layout(), row);
                if (!cracked.usable) continue;
                for (std::size_t k = 0; k < def_.columns.size() && k < cracked.fields.size(); ++k) {
                    const Column& c = def_.columns[k];
                    if (!c.long_value() || !cracked.fields[k].present) continue;
                    const LongValue value = read_long_value(file(), layout(), cracked.fields[k].bytes);
                    for (const RowPointer& at : value.rows)
                        if (const PageRef bytes = file().fetch(at.page); DataPage(bytes, layout()).is_lval())
                            out[c.number].insert(at.page);
                }
            }
        }
        return out;
    }

    void rewrite(uint32_t owned_map, uint32_t free_map, const std::vector<uint32_t>& owned) {
        if (owned_map != 0) write_map_pages(context_, layout(), owned_map, owned);
        if (free_map != 0) write_map_pages(context_, layout(), free_map, intersect(listed(free_map), owned));
    }

    FixContext& context_;
    Database& db_;
    const TableDef& def_;
    const std::vector<uint32_t>& unlisted_live_;
};

bool all_zero(Bytes page) {
    return std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; });
}

// Data pages with live rows, by owner, that the global map does not flag free: candidates
// for their owner's map (pages it already lists are simply found again; the others are
// taken only when the table is missing rows, jet/check/unlisted_pages.h). Without a readable global map nothing tells a
// lost page from a freed one, so none is adopted.
std::map<uint32_t, std::vector<uint32_t>> live_data_pages(Database& db) {
    std::map<uint32_t, std::vector<uint32_t>> out;
    const auto& free = db.free_pages();
    if (!free) return out;
    for (uint32_t p = 3; p < db.file().page_count(); ++p) {
        const PageRef page_bytes = db.file().fetch(p);
        const DataPage page(page_bytes, db.layout());
        if (!page.is_data_page() || page.is_lval() || page.owner() == 0) continue;
        if ((*free)[p] || !has_live_rows(page)) continue;
        out[page.owner()].push_back(p);
    }
    return out;
}

void rebuild_table_maps(FixContext& context) {
    StructureWalk walk(context.database());
    const auto live = live_data_pages(walk.db);
    const std::vector<uint32_t> none;
    for (const CheckedTable& table : walk.ctx.tables) {
        const TableDefResult& read = walk.db.table_def(table.tdef_page);
        if (!read.table) continue;  // an unreadable definition is for the definition fixes
        const auto it = live.find(table.tdef_page);
        TableMaps(context, walk.db, *read.table, it == live.end() ? none : it->second).rebuild();
    }
}

void rebuild_global_map(FixContext& context) {
    StructureWalk walk(context.database());
    check_table_defs(walk.ctx);
    check_rows(walk.ctx);
    const UsageMap global = read_global_map(walk.ctx);
    const PageFile& file = walk.db.file();
    const auto& current = walk.db.free_pages();
    std::vector<bool> free(file.page_count(), false);
    std::set<uint32_t> tables;
    for (const CheckedTable& t : walk.ctx.tables) tables.insert(t.tdef_page);
    for (uint32_t p = 0; p < file.page_count(); ++p) {
        if (walk.ctx.claims.kind(p) != Claim::None) continue;
        // Unused pages keep their bit. A map that cannot be read, or keeps no bit for the page,
        // frees only empty pages and data pages of a table that its map does not list: Access
        // already sees no row there (they are what a table leaves behind when it shrinks).
        if (current && global.records(p)) {
            free[p] = (*current)[p];
            continue;
        }
        const PageRef page_bytes = file.fetch(p);
        const DataPage page(page_bytes, walk.db.layout());
        free[p] = all_zero(page.bytes()) || (page.is_data_page() && !page.is_lval() && tables.count(page.owner()));
    }
    std::vector<bool> claimed(file.page_count(), false);
    for (uint32_t p = 0; p < file.page_count(); ++p) {
        const Claim claim = walk.ctx.claims.kind(p);
        claimed[p] = claim != Claim::None && claim != Claim::GlobalMap;
    }
    write_global_map(context, walk.db.layout(), free, claimed);
}

}  // namespace

void rebuild_usage_maps(FixContext& context) {
    rebuild_table_maps(context);
    rebuild_global_map(context);
    context.mark_maps_rebuilt();
}

void fix_usage_maps(FixContext& context, std::span<const Finding>) {
    if (!context.maps_rebuilt()) rebuild_usage_maps(context);
}

}  // namespace jet
