// CAT_TABLE_ID_INVALID: a catalog row names, as a table's definition, a page that is no
// definition (or lies past the end). When exactly one table definition in the file is
// owned by no catalog row, that is the table the damaged row lost: the row's Id is
// pointed back at it and nothing is lost. Otherwise the row is saved to the recovery
// file and dropped (its slot flagged deleted, its bytes kept in the page), with the rows
// of the table its pages still hold (jet/repair/drop_table.h).
#include <algorithm>
#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/repair/drop_table.h"
#include "jet/repair/fix_catalog.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/repair.h"
#include "jet/format/row.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr int kMaxOverflowHops = 8;

std::string value_text(const Value& v) {
    struct Text {
        std::string operator()(const Null&) const { return {}; }
        std::string operator()(bool b) const { return b ? "1" : "0"; }
        std::string operator()(uint8_t x) const { return std::to_string(x); }
        std::string operator()(int16_t x) const { return std::to_string(x); }
        std::string operator()(int32_t x) const { return std::to_string(x); }
        std::string operator()(int64_t x) const { return std::to_string(x); }
        std::string operator()(float x) const { return std::to_string(x); }
        std::string operator()(double x) const { return std::to_string(x); }
        std::string operator()(const Currency& c) const { return format_currency(c.scaled); }
        std::string operator()(const DateTime& d) const { return format_datetime(d.days); }
        std::string operator()(const ExtendedDateTime& d) const { return format_extended_datetime(d.ascii); }
        std::string operator()(const Decimal& d) const { return format_decimal(d); }
        std::string operator()(const Guid& g) const { return format_guid(g); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const Binary& b) const { return hex_lower(b.bytes); }
    };
    return std::visit(Text{}, v);
}

}  // namespace

std::optional<StoredRow> locate_stored_row(const FixContext& context, uint32_t page, uint16_t slot) {
    const Layout& layout = *context.header().layout;
    // Past the first hop the slot holding a moved row's bytes carries the deleted flag; only
    // the overflow flag says whether to follow on, as the reader does.
    for (int hop = 0; hop <= kMaxOverflowHops; ++hop) {
        const std::vector<uint8_t> bytes = context.read_page(page);
        DataPage data(bytes, layout);
        if (!data.is_data_page() || slot >= data.row_count()) return std::nullopt;
        const RowSlot s = data.slot(slot);
        if (!s.bounds_ok || (hop == 0 && s.deleted())) return std::nullopt;
        if (!s.overflow()) return StoredRow{page, slot, s.start, s.end};
        if (s.length() < 4) return std::nullopt;
        const RowPointer next = RowPointer::from_u32(u32_at(data.row(slot), 0));
        page = next.page;
        slot = next.row;
    }
    return std::nullopt;
}

void save_row(FixContext& context, const TableDef& def, const std::string& table, uint32_t page, uint16_t slot,
              const std::string& reason) {
    RecoveredItem item;
    item.table = table;
    item.page = page;
    item.row = slot;
    item.reason = reason;
    const auto at = locate_stored_row(context, page, slot);
    if (!at) {
        context.count_unsaved();
        return;
    }
    const std::vector<uint8_t> bytes = context.read_page(at->page);
    const Bytes row = slice(bytes, at->start, at->end - at->start);
    item.raw.assign(row.begin(), row.end());
    const PageFile& file = context.pages();
    const DecodedRow decoded = decode_row(def, row, DecodeContext{&file, context.header().layout, context.header().code_page ? context.header().code_page : uint16_t(1252)});
    if (decoded.usable)
        for (size_t i = 0; i < def.columns.size() && i < decoded.values.size(); ++i)
            if (!is_null(decoded.values[i])) item.values.emplace_back(def.columns[i].name, value_text(decoded.values[i]));
    context.save_dropped(item);
}

namespace {

void flag_slot_deleted(FixContext& context, uint32_t page, uint16_t slot) {
    const Layout& layout = *context.header().layout;
    std::vector<uint8_t> bytes = context.read_page(page);
    DataPage data(bytes, layout);
    if (!data.is_data_page() || slot >= data.row_count()) return;
    const size_t at = layout.data_header_size + size_t(slot) * 2;
    // Both flags, as Access marks a deletion: readers that only test 0x4000 skip it too.
    const uint16_t raw = u16_at(bytes, at) | kRowDeleted | kRowOverflow;
    put_u16(bytes, at, raw);
    context.write_page(page, bytes);
}

}  // namespace

void delete_row_slot(FixContext& context, uint32_t page, uint16_t slot) {
    // A moved row's bytes are flagged too, or readers that scan slots would still find them.
    const std::optional<StoredRow> stored = locate_stored_row(context, page, slot);
    flag_slot_deleted(context, page, slot);
    if (stored && (stored->page != page || stored->slot != slot)) flag_slot_deleted(context, stored->page, stored->slot);
}

namespace {

// First pages of table definitions nobody's chain continues into.
std::vector<uint32_t> definition_first_pages(const FixContext& context) {
    const Layout& layout = *context.header().layout;
    std::set<uint32_t> continuations;
    std::vector<uint32_t> pages;
    for (uint32_t n = 3; n < context.page_count(); ++n) {
        const std::vector<uint8_t> page = context.read_page(n);
        if (page.size() < layout.tdef_variable_start || page[0] != page_type::table_def || page[1] != 0x01) continue;
        if (const uint32_t next = u32_at(page, 4); next != 0) continuations.insert(next);
        const uint8_t type = page[layout.tdef_table_type];
        if (type == 'N' || type == 'S') pages.push_back(n);
    }
    std::erase_if(pages, [&](uint32_t p) { return continuations.count(p) > 0; });
    // Leftover continuation pages of dropped tables look like first pages: only a
    // definition that parses whole counts.
    const PageFile& file = context.pages();
    std::erase_if(pages, [&](uint32_t p) {
        const TableDefResult r = read_table_def(file, layout, p, context.header().code_page);
        return !r.table || !r.table->complete || r.table->parsed_length != r.table->tdef_len || r.table->columns.empty();
    });
    return pages;
}

bool is_definition(const FixContext& context, uint32_t page) {
    if (page < 2 || page >= context.page_count()) return false;
    const std::vector<uint8_t> bytes = context.read_page(page);
    return bytes[0] == page_type::table_def && bytes[1] == 0x01;
}

// Writes the table's definition page into the Id field of its catalog row.
bool repoint_row(FixContext& context, const TableDef& catalog_def, const CatalogEntry& entry, uint32_t tdef_page) {
    const auto at = locate_stored_row(context, entry.page, entry.row);
    const Column* id = nullptr;
    for (const Column& c : catalog_def.columns)
        if (c.name == "Id") id = &c;
    if (!at || !id) return false;
    std::vector<uint8_t> bytes = context.read_page(at->page);
    const Bytes row = slice(bytes, at->start, at->end - at->start);
    const CrackedRow cracked = crack_row(catalog_def, *context.header().layout, row);
    const size_t index = size_t(id - catalog_def.columns.data());
    if (!cracked.usable || index >= cracked.fields.size() || cracked.fields[index].bytes.size() != 4) return false;
    const size_t offset = size_t(cracked.fields[index].bytes.data() - bytes.data());
    const uint32_t value = (static_cast<uint32_t>(entry.id) & 0xFF000000u) | tdef_page;
    put_u32(bytes, offset, value);
    context.write_page(at->page, bytes);
    return true;
}

// Whether a page past the end of the file was in use when the file was cut: Access marks
// every page past the end free in the global map, so a used one was lost with the cut.
bool cut_away(FixContext& context, uint32_t page) {
    if (page < context.page_count()) return false;
    constexpr uint32_t kGlobalMapRow = 1u << 8;  // page 1, row 0
    PageStore& store = context;
    std::string why;
    const std::optional<UsageMapEdit> global = UsageMapEdit::load(store, *context.header().layout, kGlobalMapRow, why);
    return global && global->covers(page) && !global->get(page);
}

}  // namespace

void fix_catalog_table_ids(FixContext& context, std::span<const Finding>) {
    Database& db = context.database();
    const TableDefResult& read = db.table_def(kCatalogPage);
    if (!read.table || !read.table->complete) return;
    const TableDef& catalog_def = *read.table;
    const Catalog& catalog = db.catalog();

    std::set<uint32_t> owned{kCatalogPage};
    std::vector<const CatalogEntry*> lost;
    for (const CatalogEntry& e : catalog.entries) {
        const bool definition = is_definition(context, e.tdef_page());
        // Any row whose Id is a page number owns that definition, whatever its type.
        if (definition && (static_cast<uint32_t>(e.id) >> 24) == 0) owned.insert(e.tdef_page());
        if (e.type == object_type::table && !definition) lost.push_back(&e);
    }
    if (lost.empty()) return;
    std::vector<uint32_t> unowned;
    for (uint32_t p : definition_first_pages(context))
        if (!owned.count(p)) unowned.push_back(p);

    // A definition the file was cut short of is gone: the unowned definition is then some
    // other table's that lost its row (found again under a new name), not this one.
    if (lost.size() == 1 && unowned.size() == 1 && !cut_away(context, lost.front()->tdef_page()) &&
        repoint_row(context, catalog_def, *lost.front(), unowned.front()))
        return;
    std::vector<UnreadableTable> dropped;
    for (const CatalogEntry* e : lost) {
        save_row(context, catalog_def, "MSysObjects", e->page, e->row,
                 "fila del catálogo de la tabla «" + e->name + "», cuya definición (página " +
                     std::to_string(e->tdef_page()) + ") no existe; la tabla se retira del catálogo");
        dropped.push_back({e->name, e->tdef_page(), e->page, e->row});
    }
    // Rows the table still has on pages naming its definition page are saved undecoded.
    drop_unreadable_tables(context, dropped, "su definición no existe");
}

}  // namespace jet
