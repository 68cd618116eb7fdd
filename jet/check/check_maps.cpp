// Page claims, usage maps, and pass 5: the global page map (page 1 row 0, a set bit
// meaning "free") against what the walk of every structure found.
#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/check/check_maps.h"
#include "jet/format/data_page.h"
#include "jet/check/unlisted_pages.h"
#include "jet/format/file_limits.h"

namespace jet {
namespace {

bool shareable(Claim a, Claim b) {
    return a == b && (a == Claim::MapHost || a == Claim::LongValue);
}

bool all_zero(Bytes page) {
    return std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; });
}

// Page types Access writes; 0x08 and 0x09 are undocumented but occur in real files.
bool known_page_type(Bytes page) {
    const uint8_t type = page[0];
    if (type == 0x00) return true;
    if (page[1] != 0x01) return false;
    return type <= page_type::usage_map || type == 0x08 || type == 0x09;
}

const CheckedTable* table_at(const CheckContext& ctx, uint32_t tdef_page) {
    for (const auto& t : ctx.tables)
        if (t.tdef_page == tdef_page) return &t;
    return nullptr;
}

// A data page of a live table holding live rows that its owned map does not list, when
// the table is missing rows (jet/check/unlisted_pages.h): Access scans tables through the map,
// so those rows are invisible. Without that evidence it is a page Access released.
size_t live_rows_of_unmapped_page(const CheckContext& ctx, UnlistedPageJudge& judge, Bytes bytes, uint32_t number) {
    DataPage page(bytes, ctx.layout);
    if (!page.is_data_page() || page.is_lval()) return 0;
    const CheckedTable* t = table_at(ctx, page.owner());
    if (!t || !t->def) return 0;
    size_t live = 0;
    for (uint16_t i = 0; i < page.row_count(); ++i)
        if (!page.slot(i).deleted()) ++live;
    if (live == 0 || !judge.rows_missing(*t->def, number)) return 0;
    return live;
}

// A reference map lists its type-5 map pages after the type byte.
void claim_map_pages(CheckContext& ctx, Bytes row, Claim kind, uint32_t owner) {
    for (size_t k = 1; k + 4 <= row.size(); k += 4) {
        const uint32_t map_page = u32_at(row, k);
        const PageRef mp = ctx.file.fetch(map_page);
        if (map_page != 0 && !mp.empty() && mp[0] == page_type::usage_map) claim_page(ctx, map_page, kind, owner);
    }
}

}  // namespace

std::string describe_page(const CheckContext& ctx, Bytes page) {
    if (page.empty()) return "una página inexistente";
    switch (page[0]) {
    case page_type::data:
        if (u32_at(page, 4) == 0x4C41564C) return "una página de valores largos";
        if (u32_at(page, 4) == 0) return "una página de mapas de uso";
        return "una página de datos de la tabla " + ctx.table_name(u32_at(page, 4));
    case page_type::table_def: return "una página de definición de tabla";
    case page_type::index_node:
    case page_type::index_leaf: return "una página de índice de la tabla " + ctx.table_name(u32_at(page, 4));
    case page_type::usage_map: return "una página de mapa de uso";
    default: return all_zero(page) ? "una página vacía" : "una página de tipo " + hex_byte(page[0]);
    }
}

std::optional<PageClaims::Conflict> PageClaims::claim(uint32_t page, Claim kind, uint32_t owner) {
    if (page >= kind_.size()) return Conflict{Claim::None, 0};
    if (kind_[page] == Claim::None) {
        kind_[page] = kind;
        owner_[page] = owner;
        return std::nullopt;
    }
    if ((kind_[page] == kind && owner_[page] == owner) || shareable(kind_[page], kind)) return std::nullopt;
    return Conflict{kind_[page], owner_[page]};
}

std::string CheckContext::table_name(uint32_t tdef_page) const {
    if (const CheckedTable* t = table_at(*this, tdef_page)) return t->name;
    return "de la página " + std::to_string(tdef_page);
}

std::string CheckContext::claim_text(Claim kind, uint32_t owner) const {
    switch (kind) {
    case Claim::Header: return "la cabecera";
    case Claim::GlobalMap: return "el mapa global";
    case Claim::TableDef: return "la definición de la tabla " + table_name(owner);
    case Claim::TableData: return "los datos de la tabla " + table_name(owner);
    case Claim::MapHost: return "los mapas de uso de la tabla " + table_name(owner);
    case Claim::MapPage: return "un mapa de uso de la tabla " + table_name(owner);
    case Claim::Index: return "un índice de la tabla " + table_name(owner);
    case Claim::LongValue: return "los valores largos de la tabla " + table_name(owner);
    case Claim::None: break;
    }
    return "ninguna estructura";
}

bool claim_page(CheckContext& ctx, uint32_t page, Claim kind, uint32_t owner) {
    // Noted as a claim: a replay judges it again against the claims made by then.
    std::vector<CheckEvent>* tap = ctx.sink.tap();
    if (tap) tap->push_back({.page = page, .owner = owner, .claim = kind});
    if (page >= ctx.claims.page_count()) return false;  // callers claim only pages they read
    auto conflict = ctx.claims.claim(page, kind, owner);
    if (!conflict) return true;
    ctx.sink.set_tap(nullptr);
    ctx.sink.add(Problem::MapPageSharedOwner, object::page(page),
                 {std::to_string(page), ctx.claim_text(conflict->kind, conflict->owner), ctx.claim_text(kind, owner)});
    ctx.sink.set_tap(tap);
    return false;
}

void replay(CheckContext& ctx, const std::vector<CheckEvent>& events, CheckedTable* claimant) {
    for (const CheckEvent& e : events) {
        if (e.problem != Problem::Count) {
            ctx.sink.add(e.problem, *e.finding);
        } else if (claim_page(ctx, e.page, e.claim, e.owner) && claimant && e.claim == Claim::TableData &&
                   e.owner == claimant->tdef_page) {
            claimant->data_pages.push_back(e.page);
        }
    }
}

MapCheck read_checked_map(CheckContext& ctx, uint32_t row_pointer, uint32_t owner) {
    MapCheck out;
    const RowPointer at = RowPointer::from_u32(row_pointer);
    out.map = read_usage_map(ctx.file, ctx.layout, row_pointer);
    for (const Fault& f : out.map.faults) {
        if (!out.fault.empty()) out.fault += "; ";
        out.fault += f.detail;
    }
    if (out.map.pages_past_end != 0) {
        if (!out.fault.empty()) out.fault += "; ";
        out.fault += "marca " + std::to_string(out.map.pages_past_end) + " páginas fuera del archivo";
    }
    if (out.map.readable) {
        const PageRef host = ctx.file.fetch(at.page);
        if (u32_at(host, 4) == 0) claim_page(ctx, at.page, Claim::MapHost, owner);
        if (out.map.type == 1) claim_map_pages(ctx, DataPage(host, ctx.layout).row(at.row), Claim::MapPage, owner);
    }
    return out;
}

UsageMap read_global_map(CheckContext& ctx) {
    UsageMap global = read_usage_map(ctx.file, ctx.layout, (1u << 8) | 0u);
    if (global.readable && global.type == 1)
        claim_map_pages(ctx, DataPage(ctx.file.page(1), ctx.layout).row(0), Claim::GlobalMap, 0);
    return global;
}

void check_file_limit(CheckContext& ctx) {
    const uint64_t limit = max_file_size(ctx.layout.page_size);
    if (ctx.file.file_size() <= limit) return;
    const std::string size = grouped_bytes(ctx.file.file_size());
    // Access never writes past the limit: a page there that a structure reaches is still
    // the database's (a file joined to another, a pointer gone wrong), and is not cut away.
    for (uint32_t p = static_cast<uint32_t>(limit / ctx.layout.page_size); p < ctx.claims.page_count(); ++p) {
        const Claim claim = ctx.claims.kind(p);
        if (claim == Claim::None) continue;
        ctx.sink.add(Problem::HdrFileTooLargeUsed, object::header(),
                     {size, limit_text(limit), std::to_string(p), ctx.claim_text(claim, ctx.claims.owner(p))});
        return;
    }
    ctx.sink.add(Problem::HdrFileTooLarge, object::header(), {size, limit_text(limit)});
}

void check_page_map(CheckContext& ctx) {
    const uint32_t page_count = ctx.file.page_count();
    const Location where = object::page(1);  // named by GMAP_INVALID's place
    UsageMap global = read_global_map(ctx);
    if (!global.readable || !global.faults.empty()) {
        std::string why;
        for (const Fault& f : global.faults) why += (why.empty() ? "" : "; ") + f.detail;
        ctx.sink.add(Problem::GmapInvalid, where, {why.empty() ? "formato desconocido" : why});
        if (!global.readable) return;
    }
    std::vector<bool> free(page_count, false);
    for (uint32_t p : global.pages) free[p] = true;

    UnlistedPageJudge judge(ctx.file, ctx.layout);
    for (uint32_t p = 0; p < page_count; ++p) {
        // No bit is kept for it (a reference map's slot without a map page, Jackcess adds one
        // only when it first records a page there; a page outside an inline map's window):
        // the map says nothing either way.
        if (!global.records(p)) continue;
        const Claim claim = ctx.claims.kind(p);
        if (claim != Claim::None) {
            if (free[p])
                ctx.sink.add(Problem::MapPageFreeButUsed, object::page(p),
                             {std::to_string(p), ctx.claim_text(claim, ctx.claims.owner(p))});
            continue;
        }
        if (free[p]) continue;
        const PageRef page = ctx.file.fetch(p);
        if (page.empty() || all_zero(page)) continue;  // never-used pages occur in intact files
        if (!known_page_type(page)) {
            ctx.sink.add(Problem::PageTypeUnknown, object::page(p), {hex_byte(page[0])});
            continue;
        }
        if (page[0] == 0x08 || page[0] == 0x09) continue;
        if (page[0] == page_type::data) {
            if (size_t live = live_rows_of_unmapped_page(ctx, judge, page, p)) {
                ctx.sink.add(Problem::TablePageUnmapped,
                             object::table_page(ctx.table_name(u32_at(page, 4)), p),
                             {std::to_string(p), std::to_string(live)});
                continue;
            }
        }
        ctx.sink.add(Problem::MapPageLeak, object::page(p), {std::to_string(p), describe_page(ctx, page)});
    }
}

}  // namespace jet
