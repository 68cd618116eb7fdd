// Pass 3: each table definition the catalog names. The reader parses the chain and the
// sections; this pass judges what it parsed (docs/file-format.md, "Table definitions: what
// the check judges") and records which pages the definition, its maps and its index roots
// occupy.
#include <algorithm>
#include <map>
#include <set>

#include "jet/base/bytes.h"
#include "jet/format/catalog.h"
#include "jet/check/check_maps.h"
#include "jet/check/check_memo.h"
#include "jet/format/column_type_guess.h"
#include "jet/check/check_passes.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_header.h"
#include "jet/format/map_pointers.h"
#include "jet/format/row.h"

namespace jet {
namespace {

// Pages a free-space map lists must be among the pages the matching owned map lists.
void report_free_not_owned(CheckContext& ctx, const Location& where, const std::vector<uint32_t>& free,
                           std::vector<uint32_t> owned) {
    std::sort(owned.begin(), owned.end());
    for (uint32_t p : free)
        if (!std::binary_search(owned.begin(), owned.end(), p))
            ctx.sink.add(Problem::MapFreeNotOwned, where, {std::to_string(p)});
}

void report_definition_faults(CheckContext& ctx, const CheckedTable& t, const Faults& faults) {
    const Location where = object::table(t.name);
    for (const Fault& f : faults) {
        switch (f.kind) {
        case FaultKind::PageOutOfRange:
            if (f.page == t.tdef_page)
                ctx.sink.add(Problem::CatTableIdInvalid, where,
                             {std::to_string(t.tdef_page), "está fuera del archivo"});
            else
                ctx.sink.add(Problem::TdefChain, where, {f.detail});
            break;
        case FaultKind::TableDefUnreadable:
            ctx.sink.add(Problem::CatTableIdInvalid, where,
                         {std::to_string(t.tdef_page), "no contiene una definición de tabla"});
            break;
        case FaultKind::TableDefChainCycle:
        case FaultKind::TableDefChainBroken:
            ctx.sink.add(Problem::TdefChain, object::table_page(t.name, f.page), {f.detail});
            break;
        case FaultKind::TableDefLength:
            break;  // judged below from the parsed lengths
        case FaultKind::TableDefTruncated:
            ctx.sink.add(Problem::TdefLayout, where, {f.detail});
            break;
        case FaultKind::TableDefColumn:
        case FaultKind::TableDefIndex:
            break;  // the checks below name each case with its own code
        default:
            ctx.sink.add(Problem::TdefLayout, where, {f.detail});
            break;
        }
    }
}

void check_columns(CheckContext& ctx, const CheckedTable& t, bool& rows_readable) {
    const TableDef& d = *t.def;
    std::set<uint16_t> numbers;
    std::map<uint16_t, const Column*> var_slots;
    struct Span {
        uint32_t begin, end;
        const Column* column;
    };
    std::vector<Span> fixed;
    for (const Column& c : d.columns) {
        const Location where = object::column(t.name, c.name);
        if (!numbers.insert(c.number).second || c.number >= d.max_cols) {
            ctx.sink.add(Problem::TdefColumnNumber, where,
                         {c.name, std::to_string(c.number), std::to_string(d.max_cols)});
            rows_readable = false;
        }
        if (!type_known_for(c.type, ctx.header.version_byte, ctx.layout)) {
            ColumnValues values = column_values(ctx.file, ctx.layout, d, c, ctx.db.decode_context().code_page);
            values.complex_listed = complex_column_listed(ctx.db, t.tdef_page, c.name);
            const TypeGuess guess = guess_column_type(d, t.name, c, ctx.layout, ctx.header.version_byte, values);
            ctx.sink.add(Problem::TdefColumnType, where, {c.name, hex_byte(c.type), guess.reason});
            rows_readable = false;
        }
        if (c.bit_only()) continue;
        if (c.fixed()) {
            fixed.push_back({c.fixed_offset, uint32_t(c.fixed_offset) + jet::fixed_size(c), &c});
        } else if (c.var_index >= d.num_var_cols || var_slots.count(c.var_index)) {
            ctx.sink.add(Problem::TdefVarIndex, where,
                         {c.name, std::to_string(c.var_index), std::to_string(d.num_var_cols)});
            rows_readable = false;
        } else {
            var_slots[c.var_index] = &c;
        }
    }
    std::sort(fixed.begin(), fixed.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < fixed.size(); ++i) {
        if (fixed[i].begin < fixed[i - 1].end && fixed[i].end > fixed[i].begin) {
            ctx.sink.add(Problem::TdefFixedOverlap, object::table(t.name),
                         {fixed[i - 1].column->name, fixed[i].column->name});
            rows_readable = false;
        }
    }
}

std::string real_index_name(const TableDef& d, size_t real) {
    for (const auto& logical : d.logical_indexes)
        if (logical.real_number == real) return logical.name;
    return "físico " + std::to_string(real);
}

void check_indexes(CheckContext& ctx, const CheckedTable& t) {
    const TableDef& d = *t.def;
    for (size_t i = 0; i < d.real_indexes.size(); ++i) {
        const RealIndex& ri = d.real_indexes[i];
        const std::string name = real_index_name(d, i);
        const Location where = object::index(t.name, name);
        for (const IndexColumn& col : ri.columns)
            if (col.number != 0xFFFF && !d.column_by_number(col.number))
                ctx.sink.add(Problem::TdefIndexColumn, where, {name, std::to_string(col.number)});

        const PageRef root = ctx.file.fetch(ri.root_page);
        std::string root_fault;
        if (ri.root_page == 0 || root.empty())
            root_fault = "está fuera del archivo";
        else if (root[0] != page_type::index_leaf && root[0] != page_type::index_node)
            root_fault = "no es una página de índice (tipo " + hex_byte(root[0]) + ")";
        else if (u32_at(root, 4) != t.tdef_page)
            root_fault = "pertenece a otra tabla (página " + std::to_string(u32_at(root, 4)) + ")";
        if (!root_fault.empty())
            ctx.sink.add(Problem::TdefIndexRoot, where, {name, std::to_string(ri.root_page), root_fault});
        else
            claim_page(ctx, ri.root_page, Claim::Index, t.tdef_page);

        MapCheck map = read_checked_map(ctx, ri.owned_map, t.tdef_page);
        if (!map.fault.empty()) ctx.sink.add(Problem::TdefIndexMap, where, {name, map.fault});
        for (uint32_t p : map.map.pages) {
            const PageRef page = ctx.file.fetch(p);
            if ((page[0] != page_type::index_leaf && page[0] != page_type::index_node) || u32_at(page, 4) != t.tdef_page)
                ctx.sink.add(Problem::MapPageWrongOwner, where, {std::to_string(p), describe_page(ctx, page)});
            else
                claim_page(ctx, p, Claim::Index, t.tdef_page);
        }
    }
    size_t primary_keys = 0;
    for (const LogicalIndex& li : d.logical_indexes) {
        if (li.real_number >= d.real_indexes.size())
            ctx.sink.add(Problem::TdefLogicalIndex, object::index(t.name, li.name),
                         {li.name, std::to_string(li.real_number), std::to_string(d.real_indexes.size())});
        if (li.index_type == 0x01) ++primary_keys;
    }
    if (primary_keys > 1) ctx.sink.add(Problem::TdefPrimaryKeys, object::table(t.name), {std::to_string(primary_keys)});
}

void check_long_value_maps(CheckContext& ctx, CheckedTable& t) {
    const TableDef& d = *t.def;
    for (const LongValueMaps& lv : d.long_value_maps) {
        const Column* c = d.column_by_number(lv.column_number);
        const Location where = object::table(t.name);
        if (!c || !c->long_value()) {
            ctx.sink.add(Problem::TdefLvMap, where,
                         {std::to_string(lv.column_number), "la columna no existe o no guarda valores largos"});
            continue;
        }
        MapCheck owned = read_checked_map(ctx, lv.owned_map, t.tdef_page);
        if (!owned.fault.empty())
            ctx.sink.add(Problem::TdefLvMap, where, {std::to_string(lv.column_number), owned.fault});
        if (!owned.usable()) continue;
        std::vector<uint32_t>& listed = t.lv_pages[lv.column_number];
        for (uint32_t p : owned.map.pages) {
            const PageRef page_bytes = ctx.file.fetch(p);
            DataPage page(page_bytes, ctx.layout);
            if (!page.is_data_page() || !page.is_lval()) {
                ctx.sink.add(Problem::MapPageWrongOwner, object::column(t.name, c->name),
                             {std::to_string(p), describe_page(ctx, page.bytes())});
                continue;
            }
            claim_page(ctx, p, Claim::LongValue, t.tdef_page);
            listed.push_back(p);
        }
        if (lv.free_map == 0) continue;  // a column may have no free-space map
        MapCheck free = read_checked_map(ctx, lv.free_map, t.tdef_page);
        if (!free.fault.empty())
            ctx.sink.add(Problem::TdefLvMap, where, {std::to_string(lv.column_number), free.fault});
        if (free.usable()) report_free_not_owned(ctx, object::column(t.name, c->name), free.map.pages, listed);
    }
}

void check_table_maps(CheckContext& ctx, CheckedTable& t) {
    const TableDef& d = *t.def;
    MapCheck owned = read_checked_map(ctx, d.owned_map, t.tdef_page);
    if (!owned.fault.empty())
        ctx.sink.add(Problem::TdefMapPointer, object::table(t.name), {"de páginas", owned.fault});
    std::vector<uint32_t> listed;
    if (owned.usable()) {
        t.owned_map_ok = true;
        listed = owned.map.pages;
        for (uint32_t p : listed) {
            const PageRef page_bytes = ctx.file.fetch(p);
            DataPage page(page_bytes, ctx.layout);
            if (data_page_header_lost(page.bytes()) && rows_can_be_framed(d)) {
                // Still the table's page: its rows are there, only the header is gone.
                ctx.sink.add(Problem::DpageHeaderLost, object::table_page(t.name, p), {std::to_string(p)});
                claim_page(ctx, p, Claim::TableData, t.tdef_page);
                continue;
            }
            if (!page.is_data_page() || page.owner() != t.tdef_page) {
                ctx.sink.add(Problem::MapPageWrongOwner, object::table(t.name),
                             {std::to_string(p), describe_page(ctx, page.bytes())});
                continue;
            }
            if (claim_page(ctx, p, Claim::TableData, t.tdef_page)) t.data_pages.push_back(p);
        }
    } else {
        // Unreadable map: find the table's pages by their owner field, as readers do, so
        // that they are neither checked as strays nor left unread.
        Faults ignored;
        for (uint32_t p : ctx.db.data_pages(d, t.name, ignored))
            if (claim_page(ctx, p, Claim::TableData, t.tdef_page)) t.data_pages.push_back(p);
    }
    MapCheck free = read_checked_map(ctx, d.free_map, t.tdef_page);
    if (!free.fault.empty())
        ctx.sink.add(Problem::TdefMapPointer, object::table(t.name), {"de espacio libre", free.fault});
    if (free.usable() && owned.usable()) report_free_not_owned(ctx, object::table(t.name), free.map.pages, listed);
}

void check_one(CheckContext& ctx, CheckedTable& t) {
    const TableDefResult& read = ctx.db.table_def(t.tdef_page);
    report_definition_faults(ctx, t, read.faults);
    if (!read.table) return;
    t.def = &*read.table;
    const TableDef& d = *t.def;
    // Pages past those a whole definition fills are not its own (the chain check reports them).
    const size_t own = d.complete && d.parsed_length == d.tdef_len
                           ? std::min(d.pages.size(), table_def_pages_needed(d.tdef_len, ctx.layout.page_size))
                           : d.pages.size();
    for (size_t i = 0; i < own; ++i) claim_page(ctx, d.pages[i], Claim::TableDef, t.tdef_page);
    if (d.complete && d.tdef_len != d.parsed_length)
        ctx.sink.add(Problem::TdefLength, object::table(t.name),
                     {std::to_string(d.tdef_len), std::to_string(d.parsed_length)});
    bool rows_readable = d.complete && !d.columns.empty();
    check_columns(ctx, t, rows_readable);
    if (d.complete) {
        check_indexes(ctx, t);
        check_long_value_maps(ctx, t);
    }
    check_table_maps(ctx, t);
    t.rows_readable = rows_readable;
}

// The definition pass over one table, its steps and the pages it read noted for the
// re-check of a repaired copy.
void check_and_record(CheckContext& ctx, CheckedTable& t) {
    CheckMemo::TableDefs noted;
    std::vector<uint32_t> read;
    {
        const PageFile::ReadLog log(ctx.file, &read);
        ctx.sink.set_tap(&noted.events);
        struct StopTap {
            FindingSink& sink;
            ~StopTap() { sink.set_tap(nullptr); }
        } stop{ctx.sink};
        check_one(ctx, t);
    }
    noted.key = memo_key(t, std::move(read));
    noted.key.data_pages.clear();  // they come back from the claims when replayed
    noted.owned_map_ok = t.owned_map_ok;
    // Kept until the re-check: a claim per page of the table, without the room left by growth.
    noted.events.shrink_to_fit();
    ctx.memo->record(std::move(noted), ctx.file.page_count());
}

void take_over(CheckContext& ctx, CheckedTable& t, const CheckMemo::TableDefs& earlier) {
    const TableDefResult& read = ctx.db.table_def(t.tdef_page);
    if (read.table) t.def = &*read.table;
    t.rows_readable = earlier.key.rows_readable;
    t.owned_map_ok = earlier.owned_map_ok;
    t.lv_pages = earlier.key.lv_pages;
    replay(ctx, earlier.events, &t);
}

std::string map_text(const CheckedTable& t, const MapPointerRef& m) {
    using K = MapPointerRef::Kind;
    switch (m.kind) {
        case K::TablePages: return "el mapa de páginas de la tabla " + t.name;
        case K::TableFree: return "el mapa de espacio libre de la tabla " + t.name;
        case K::Index: return "el mapa del índice " + real_index_name(*t.def, m.number) + " de la tabla " + t.name;
        case K::LongValuePages:
        case K::LongValueFree: return "un mapa de valores largos de la tabla " + t.name;
    }
    return {};
}

// A map row two maps name (a pointer copied over another): each map's rebuild would undo
// the other's. The later one, in the order the map-pointer fix walks them too, is reported.
// Run after every definition is read, whether its findings were taken over or not: it
// looks across tables.
void check_shared_map_rows(CheckContext& ctx) {
    using K = MapPointerRef::Kind;
    std::vector<const CheckedTable*> order;
    for (const CheckedTable& t : ctx.tables)
        if (t.def && t.def->complete) order.push_back(&t);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->tdef_page < b->tdef_page; });
    std::map<uint32_t, std::pair<const CheckedTable*, MapPointerRef>> first;
    for (const CheckedTable* t : order) {
        for (const MapPointerRef& m : map_pointers(*t->def, ctx.layout)) {
            if (m.pointer == 0) continue;
            const auto [it, fresh] = first.try_emplace(m.pointer, t, m);
            if (fresh) continue;
            const std::string shared = "es la misma fila que " + map_text(*it->second.first, it->second.second);
            if (m.kind == K::Index)
                ctx.sink.add(Problem::TdefIndexMap, object::index(t->name, real_index_name(*t->def, m.number)),
                             {real_index_name(*t->def, m.number), shared});
            else if (m.kind == K::TablePages || m.kind == K::TableFree)
                ctx.sink.add(Problem::TdefMapPointer, object::table(t->name),
                             {m.kind == K::TablePages ? "de páginas" : "de espacio libre", shared});
            else
                ctx.sink.add(Problem::TdefLvMap, object::table(t->name), {std::to_string(m.number), shared});
        }
    }
}

// A definition whose chain runs on past the pages its length fills (no Access file in
// the corpus links more), or into another table's first page or one of its
// continuation pages (a next-page pointer copied over): both read, but the page is
// claimed twice and one definition takes the other's bytes for its own.
void check_chains_into_other_tables(CheckContext& ctx) {
    std::map<uint32_t, std::string> firsts{{kCatalogPage, "MSysObjects"}};
    for (const CheckedTable& t : ctx.tables)
        if (t.def) firsts.emplace(t.tdef_page, t.name);
    std::map<uint32_t, std::string> continuations;  // first holder of each continuation page
    for (const CheckedTable& t : ctx.tables) {
        if (!t.def) continue;
        const TableDef& d = *t.def;
        const size_t needed = table_def_pages_needed(d.tdef_len, ctx.layout.page_size);
        if (d.complete && d.parsed_length == d.tdef_len && d.pages.size() > needed) {
            ctx.sink.add(Problem::TdefChain, object::table_page(t.name, d.pages[needed]),
                         {"la definición termina en la página " + std::to_string(d.pages[needed - 1]) +
                          ", pero su cadena sigue en la página " + std::to_string(d.pages[needed])});
            continue;
        }
        for (auto q = t.def->pages.begin() + 1; q != t.def->pages.end(); ++q) {
            if (const auto first = firsts.find(*q); first != firsts.end()) {
                ctx.sink.add(Problem::TdefChain, object::table_page(t.name, *q),
                             {"la definición continúa en la página " + std::to_string(*q) +
                              ", que es la primera de la definición de la tabla " + first->second});
                break;
            }
            const auto [held, fresh] = continuations.emplace(*q, t.name);
            if (!fresh && held->second != t.name) {
                ctx.sink.add(Problem::TdefChain, object::table_page(t.name, *q),
                             {"la definición continúa en la página " + std::to_string(*q) +
                              ", que también continúa la definición de la tabla " + held->second});
                break;
            }
        }
    }
}

}  // namespace

void check_table_defs(CheckContext& ctx) {
    const bool recording = ctx.memo && ctx.memo->recording();
    // Findings of this pass name other tables: taken over only while the catalog names the same.
    const bool reuse = ctx.memo && !recording && ctx.memo->same_tables(ctx.tables);
    if (recording) ctx.memo->note_tables(ctx.tables);
    for (CheckedTable& t : ctx.tables) {
        if (t.def) continue;
        if (const CheckMemo::TableDefs* earlier = reuse ? ctx.memo->reusable_defs(t, ctx.file.page_count()) : nullptr)
            take_over(ctx, t, *earlier);
        else if (recording)
            check_and_record(ctx, t);
        else
            check_one(ctx, t);
    }
    check_shared_map_rows(ctx);
    check_chains_into_other_tables(ctx);
}

}  // namespace jet
