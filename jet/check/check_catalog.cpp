// Pass 2: the system catalog. Its own definition is page 2; its rows name every local
// table by the page of its definition. The catalog's rows are checked like any table's
// in pass 4; here only what makes the catalog as a whole wrong is judged.
#include <algorithm>
#include <cctype>
#include <map>

#include "jet/format/catalog.h"
#include "jet/check/check_passes.h"
#include "jet/check/lost_tables.h"

namespace jet {
namespace {

std::string folded(const std::string& name) {
    std::string out = name;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void check_unique_names(CheckContext& ctx, const Catalog& catalog) {
    std::map<std::pair<int32_t, std::string>, size_t> seen;
    for (const CatalogEntry& e : catalog.entries) ++seen[{e.parent_id, folded(e.name)}];
    for (const CatalogEntry& e : catalog.entries) {
        auto it = seen.find({e.parent_id, folded(e.name)});
        if (it == seen.end() || it->second < 2) continue;
        ctx.sink.add(Problem::CatDuplicateName, object::table("MSysObjects", kCatalogPage), {"«" + e.name + "»", std::to_string(it->second)});
        seen.erase(it);  // one finding per name
    }
}

}  // namespace

void check_catalog(CheckContext& ctx) {
    const Catalog& catalog = ctx.db.catalog();
    for (const Fault& f : catalog.faults) {
        if (f.kind == FaultKind::CatalogUnreadable)
            ctx.sink.add(Problem::CatTdefInvalid, object::table("MSysObjects"), {f.detail});
        else if (f.kind == FaultKind::CatalogRow)
            ctx.sink.add(Problem::CatRowUnreadable, object::table_row("MSysObjects", f.page, f.row), {f.detail});
        // Anything else concerns the catalog's pages and rows, judged in passes 3 and 4.
    }

    ctx.tables.push_back(CheckedTable{"MSysObjects", kCatalogPage, true});
    if (!catalog.readable) return;
    std::map<uint32_t, std::string> by_page{{kCatalogPage, "MSysObjects"}};
    for (const CatalogEntry& e : catalog.entries) {
        if (const std::string why = garbled_catalog_entry(e); !why.empty()) {
            ctx.sink.add(Problem::CatRowGarbled, object::table_row("MSysObjects", e.page, e.row), {why});
            continue;
        }
        if (e.type != object_type::table) continue;
        const uint32_t page = e.tdef_page();
        auto [it, inserted] = by_page.emplace(page, e.name);
        if (!inserted) {
            if (page != kCatalogPage || e.name != "MSysObjects")
                ctx.sink.add(Problem::CatTableSharedTdef, object::table(e.name),
                             {"«" + it->second + "»", "«" + e.name + "»", std::to_string(page)});
            continue;
        }
        CheckedTable t;
        t.name = e.name;
        t.tdef_page = page;
        t.system = is_system_object(e);
        if (page == 0 || page >= ctx.file.page_count()) {
            ctx.sink.add(Problem::CatTableIdInvalid, object::table(e.name),
                         {std::to_string(page), "está fuera del archivo"});
            continue;
        }
        ctx.tables.push_back(std::move(t));
    }
    check_unique_names(ctx, catalog);
}

void check_lost_tables(CheckContext& ctx) {
    for (const LostTable& lost : find_lost_tables(ctx.db)) {
        // A page the walk gave to a named structure is not lost, whatever it looks like.
        const TableDefResult& read = ctx.db.table_def(lost.tdef_page);
        bool unclaimed = read.table.has_value();
        if (read.table)
            for (uint32_t p : read.table->pages) unclaimed = unclaimed && ctx.claims.kind(p) == Claim::None;
        for (uint32_t p : lost.data_pages) unclaimed = unclaimed && ctx.claims.kind(p) == Claim::None;
        if (!unclaimed) continue;
        ctx.sink.add(Problem::CatTableLost, object::table(lost_table_name(lost.tdef_page)),
                     {std::to_string(lost.tdef_page), std::to_string(lost.live_rows)});
    }
}

}  // namespace jet
