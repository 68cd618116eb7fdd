// TDEF_COLUMN_NUMBER, TDEF_VAR_INDEX: a column descriptor whose number or variable slot
// no definition could hold (256 and up: a table has at most 255 columns), or that another
// column has too. The other columns keep theirs, so when exactly one number (slot) below
// the definition's maximum is free and exactly one column lost its own, that free one is
// the lost one.
// TDEF_FIXED_OVERLAP: fixed columns lie end to end; of two that overlap, the one whose
// offset is wrong is the one that fits the single gap the others leave (or their end).
// Anything less certain is left to the count fix and, for a user table, to dropping it.
#include <algorithm>
#include <map>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/repair/fix_table_def.h"
#include "jet/repair/repair.h"
#include "jet/format/row.h"

namespace jet {
namespace {

constexpr uint32_t kMostColumns = 256;

bool variable(const Column& c) { return !c.fixed() && !c.bit_only(); }

// The one value in [0, limit) the other columns leave free, for the one column whose
// value is impossible, or, when two columns share a value, for the one of them whose
// move keeps the values rising in `order` (Access hands them out in that order); nothing
// otherwise.
template <class Value>
std::optional<std::pair<const Column*, uint16_t>> lost_value(const std::vector<const Column*>& order, uint32_t limit,
                                                            Value value) {
    if (limit > kMostColumns) return std::nullopt;
    std::vector<const Column*> impossible;
    std::map<uint32_t, std::vector<const Column*>> by_value;
    for (const Column* c : order) {
        if (value(*c) >= kMostColumns)
            impossible.push_back(c);
        else
            by_value[value(*c)].push_back(c);
    }
    std::optional<uint16_t> free;
    for (uint32_t v = 0; v < limit; ++v) {
        if (by_value.count(v)) continue;
        if (free) return std::nullopt;
        free = uint16_t(v);
    }
    if (!free) return std::nullopt;
    if (impossible.size() == 1) return std::make_pair(impossible.front(), *free);
    if (!impossible.empty()) return std::nullopt;
    std::vector<const Column*> shared;
    for (const auto& [v, columns] : by_value)
        if (columns.size() > 1) shared.insert(shared.end(), columns.begin(), columns.end());
    if (shared.size() != 2) return std::nullopt;
    std::vector<const Column*> rising;
    for (const Column* moved : shared) {
        uint32_t last = 0;
        bool ok = true;
        for (const Column* c : order) {
            const uint32_t v = c == moved ? *free : value(*c);
            if (v < last) ok = false;
            last = v;
        }
        if (ok) rising.push_back(moved);
    }
    if (rising.size() != 1) return std::nullopt;
    return std::make_pair(rising.front(), *free);
}

struct Span {
    uint32_t begin, end;
};

// Where `c` goes so that the fixed columns tile the fixed area with no gap or overlap.
std::optional<uint16_t> tiling_offset(const TableDef& t, const Column& c) {
    std::vector<Span> others;
    for (const Column& o : t.columns)
        if (&o != &c && o.fixed() && !o.bit_only()) others.push_back({o.fixed_offset, o.fixed_offset + uint32_t(fixed_size(o))});
    std::sort(others.begin(), others.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
    std::optional<uint32_t> hole;
    uint32_t end = 0;
    for (const Span& s : others) {
        if (s.begin < end) return std::nullopt;  // the others overlap too
        if (s.begin > end) {
            if (hole || s.begin - end != fixed_size(c)) return std::nullopt;
            hole = end;
        }
        end = s.end;
    }
    const uint32_t at = hole ? *hole : end;
    if (at == c.fixed_offset || at > 0xFFFF) return std::nullopt;
    return uint16_t(at);
}

std::optional<std::pair<const Column*, uint16_t>> lost_fixed_offset(const TableDef& t) {
    std::vector<const Column*> fixed;
    for (const Column& c : t.columns)
        if (c.fixed() && !c.bit_only()) fixed.push_back(&c);
    std::vector<std::pair<const Column*, uint16_t>> found;
    for (const Column* c : fixed) {
        const uint32_t begin = c->fixed_offset, end = begin + uint32_t(fixed_size(*c));
        const bool overlaps = std::any_of(fixed.begin(), fixed.end(), [&](const Column* o) {
            return o != c && o->fixed_offset < end && begin < o->fixed_offset + uint32_t(fixed_size(*o));
        });
        if (!overlaps) continue;
        if (const auto at = tiling_offset(t, *c)) found.emplace_back(c, *at);
    }
    if (found.size() == 1) return found.front();
    // Two columns of one size tile either way: Access lays fixed columns out in number
    // order (columns is sorted by number), so the order that keeps to it wins.
    std::vector<std::pair<const Column*, uint16_t>> in_order;
    for (const auto& [c, at] : found) {
        uint32_t last = 0;
        bool ordered = true;
        for (const Column* o : fixed) {
            const uint32_t offset = o == c ? at : o->fixed_offset;
            if (offset < last) ordered = false;
            last = offset;
        }
        if (ordered) in_order.emplace_back(c, at);
    }
    if (in_order.size() == 1) return in_order.front();
    return std::nullopt;
}

// Writes a u16 at a logical offset of the definition's chain.
void put_u16(FixContext& context, const TableDef& t, size_t logical, uint16_t value) {
    std::vector<uint8_t> buffer = t.buffer;
    if (logical + 2 > buffer.size()) return;
    jet::put_u16(buffer, logical, value);
    write_table_def(context, t, buffer);
}

void fix_one(FixContext& context, uint32_t tdef_page, uint16_t code_page) {
    const Layout& l = *context.header().layout;
    const PageFile& file = context.pages();
    const TableDefResult read = read_table_def(file, l, tdef_page, code_page);
    if (!read.table || !read.table->complete) return;
    const TableDef& t = *read.table;
    std::vector<const Column*> by_descriptor, variable_by_number;
    for (const Column& c : t.columns) {
        by_descriptor.push_back(&c);
        if (variable(c)) variable_by_number.push_back(&c);  // columns are sorted by number
    }
    std::sort(by_descriptor.begin(), by_descriptor.end(),
              [](const Column* a, const Column* b) { return a->descriptor_offset < b->descriptor_offset; });
    if (const auto number = lost_value(by_descriptor, t.max_cols, [](const Column& c) { return uint32_t(c.number); })) {
        put_u16(context, t, number->first->descriptor_offset + l.col_number, number->second);
        return;  // one entry at a time: the definition is read afresh for the next
    }
    if (const auto slot = lost_value(variable_by_number, t.num_var_cols,
                                     [](const Column& c) { return uint32_t(c.var_index); })) {
        put_u16(context, t, slot->first->descriptor_offset + l.col_var_index, slot->second);
        return;
    }
    if (const auto offset = lost_fixed_offset(t))
        put_u16(context, t, offset->first->descriptor_offset + l.col_fixed_offset, offset->second);
}

}  // namespace

void fix_column_entries_or_drop(FixContext& context, std::span<const Finding> findings) {
    std::vector<CatalogTable> tables;
    uint16_t code_page = 0;
    {
        Database& db = context.database();
        code_page = db.decode_context().code_page;
        tables = every_table(db.catalog(), context.page_count());
    }
    for (int pass = 0; pass < 3; ++pass)  // a number, a slot and an offset of one table
        for (const CatalogTable& t : tables) fix_one(context, t.tdef_page, code_page);
    fix_table_defs_or_drop(context, findings);
}

}  // namespace jet
