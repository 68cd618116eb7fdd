// Table definitions whose header counts disagree with what the definition holds:
// tdef_len, the column / index counts and the highest column number and variable slot.
// The sections of a definition follow each other with no gaps and end in FF FF at
// tdef_len, so counts that make the buffer parse to exactly that end, with sane columns,
// are the ones Access wrote. Only counts are rewritten; descriptors and names stay.
#include <algorithm>
#include <optional>
#include <tuple>
#include <set>

#include "jet/base/bytes.h"
#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/repair/drop_table.h"
#include "jet/repair/fix_table_def.h"
#include "jet/repair/repair.h"
#include "jet/repair/table_def_zeroed_tail.h"
#include "jet/base/text.h"

namespace jet {
namespace {

constexpr size_t kTdefLength = 0x08;
constexpr uint32_t kMaxIndexesTried = 64;
constexpr uint16_t kMaxColumnsTried = 256;

struct Counts {
    uint16_t columns;
    uint32_t real_indexes;
    uint32_t logical_indexes;
    bool operator==(const Counts&) const = default;
};

Counts counts_of(const TableDef& t) { return {t.num_cols, t.num_real_idx, t.num_idx}; }

void put(std::vector<uint8_t>& b, size_t at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) b[at + i] = uint8_t(value >> (8 * i));
}

void put_counts(std::vector<uint8_t>& b, const Layout& l, const Counts& c) {
    put(b, l.tdef_num_cols, c.columns, 2);
    put(b, l.tdef_num_real_idx, c.real_indexes, 4);
    put(b, l.tdef_num_idx, c.logical_indexes, 4);
}

// The fewest bytes a definition with these counts takes (every name a bare length field,
// no long-value map): counts needing more than tdef_len cannot parse to it, so each of the
// thousands of tries below that would only fail costs nothing.
size_t least_length(const Layout& l, const Counts& c) {
    return l.tdef_variable_start + size_t(c.real_indexes) * (l.real_index_count_entry_size + l.real_index_size) +
           size_t(c.columns) * (l.column_size + l.name_length_size) +
           size_t(c.logical_indexes) * (l.logical_index_size + l.name_length_size) + 2;
}

// A sound definition parses to exactly tdef_len. Of the thousands of candidates tried
// below nearly all end elsewhere; a walk over the length fields tells so without the full
// parse, which decodes every name and sorts every column each time.
// The candidates only change bytes before the long-value map entries, so where those end is
// looked up, not walked, each time.
bool ends_at_length(Bytes buffer, const Layout& l, const TrailingEnds& trailing, uint32_t tdef_len) {
    return parsed_end(buffer, l, trailing) == tdef_len;
}

// The one set of counts that parses soundly, varying one count at a time, then the two
// index counts together; nothing when none or several do.
std::optional<Counts> rederive_counts(const TableDef& t, const Layout& l, uint16_t code_page) {
    std::vector<uint8_t> buffer = t.buffer;
    const TrailingEnds trailing(buffer);
    const Counts stored = counts_of(t);
    std::set<std::tuple<uint16_t, uint32_t, uint32_t>> found;
    auto attempt = [&](const Counts& c) {
        if (c == stored || least_length(l, c) > t.tdef_len) return;
        put_counts(buffer, l, c);
        if (ends_at_length(buffer, l, trailing, t.tdef_len) && sound_definition(parse_table_def(buffer, l, code_page), t.tdef_len))
            found.insert({c.columns, c.real_indexes, c.logical_indexes});
    };
    for (uint16_t n = 0; n < kMaxColumnsTried; ++n) attempt({n, stored.real_indexes, stored.logical_indexes});
    for (uint32_t n = 0; n < kMaxIndexesTried; ++n) attempt({stored.columns, n, stored.logical_indexes});
    for (uint32_t n = 0; n < kMaxIndexesTried; ++n) attempt({stored.columns, stored.real_indexes, n});
    if (found.empty())
        for (uint32_t r = 0; r < kMaxIndexesTried; ++r)
            for (uint32_t i = 0; i < kMaxIndexesTried; ++i) attempt({stored.columns, r, i});
    if (found.size() != 1) return std::nullopt;
    const auto& [columns, real, logical] = *found.begin();
    return Counts{columns, real, logical};
}

// Bytes of a definition whose loss leaves every count right but the parse astray: the
// FF FF that ends it (just before tdef_len) and the length of one column or index name.
// Changed back to the one value that makes the definition read whole to tdef_len, when
// exactly one does.
std::optional<std::vector<uint8_t>> rederive_lengths(const TableDef& t, const Layout& l, uint16_t code_page) {
    if (t.complete && t.parsed_length == t.tdef_len) return std::nullopt;  // the lengths led the parse right
    std::vector<uint8_t> buffer = t.buffer;
    std::vector<std::vector<uint8_t>> found;
    // A name stretched over the bytes after it would swallow entries whole: names Access
    // writes hold no control characters.
    auto plain = [](const std::string& name) {
        return std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    };
    auto sound = [&] {
        const TableDefResult r = parse_table_def(buffer, l, code_page);
        if (!sound_definition(r, t.tdef_len)) return false;
        return std::all_of(r.table->columns.begin(), r.table->columns.end(), [&](const Column& c) { return plain(c.name); }) &&
               std::all_of(r.table->logical_indexes.begin(), r.table->logical_indexes.end(),
                           [&](const LogicalIndex& i) { return plain(i.name); });
    };
    if (t.tdef_len >= 2 && t.tdef_len <= buffer.size()) {
        const uint8_t a = buffer[t.tdef_len - 2], b = buffer[t.tdef_len - 1];
        buffer[t.tdef_len - 2] = buffer[t.tdef_len - 1] = 0xFF;
        if (parsed_end(buffer, l) == t.tdef_len && sound()) found.push_back(buffer);
        buffer[t.tdef_len - 2] = a;
        buffer[t.tdef_len - 1] = b;
    }
    // Name length fields, found by walking the stored lengths up to each. Changing one
    // leaves the bytes from the long-value map entries on as they are.
    const TrailingEnds trailing(buffer);
    std::vector<size_t> fields;
    const uint64_t columns = u16_at(buffer, l.tdef_num_cols), real = u32_at(buffer, l.tdef_num_real_idx),
                   logical = u32_at(buffer, l.tdef_num_idx);
    if (columns > kMaxColumnsTried || real > kMaxIndexesTried || logical > kMaxIndexesTried) return std::nullopt;
    size_t pos = l.tdef_variable_start + real * l.real_index_count_entry_size + columns * l.column_size;
    auto walk = [&](uint64_t names) {
        for (uint64_t i = 0; i < names && fits(buffer, pos, l.name_length_size); ++i) {
            fields.push_back(pos);
            pos += l.name_length_size + (l.name_length_size == 1 ? u8_at(buffer, pos) : u16_at(buffer, pos));
        }
    };
    walk(columns);
    pos += real * l.real_index_size + logical * l.logical_index_size;
    walk(logical);
    for (size_t at : fields) {
        if (!fits(buffer, at, l.name_length_size)) continue;
        const std::vector<uint8_t> stored(buffer.begin() + std::ptrdiff_t(at),
                                          buffer.begin() + std::ptrdiff_t(at + l.name_length_size));
        for (uint32_t length = 0; length < 256; ++length) {
            put(buffer, at, length, l.name_length_size);
            if (std::equal(stored.begin(), stored.end(), buffer.begin() + std::ptrdiff_t(at))) continue;
            // Cheapest first: most lengths leave the walk over the length fields off tdef_len;
            // of the rest, a name holding a control character ran into the next field.
            const size_t name_at = at + l.name_length_size;
            if (!fits(buffer, name_at, length) || !ends_at_length(buffer, l, trailing, t.tdef_len) ||
                !plain(decode_text(Bytes(buffer).subspan(name_at, length), l, code_page)))
                continue;
            if (sound()) found.push_back(buffer);
        }
        std::copy(stored.begin(), stored.end(), buffer.begin() + std::ptrdiff_t(at));
    }
    if (found.size() != 1) return std::nullopt;
    return found.front();
}

// A long-value map entry naming a column that keeps no long values (or one another entry
// names): set back to the one memo / OLE column no entry names, when there is exactly one
// such column and one such entry.
std::optional<std::vector<uint8_t>> rederive_lv_columns(const TableDef& t, const Layout& l, uint16_t code_page) {
    if (!t.complete) return std::nullopt;
    std::set<uint16_t> named;
    std::vector<const LongValueMaps*> astray;
    for (const LongValueMaps& lv : t.long_value_maps) {
        const Column* c = t.column_by_number(lv.column_number);
        if (!c || !c->long_value() || !named.insert(lv.column_number).second) astray.push_back(&lv);
    }
    std::vector<uint16_t> unnamed;
    for (const Column& c : t.columns)
        if (c.long_value() && !named.count(c.number)) unnamed.push_back(c.number);
    if (astray.size() != 1 || unnamed.size() != 1) return std::nullopt;
    std::vector<uint8_t> buffer = t.buffer;
    put(buffer, astray.front()->descriptor_offset, unnamed.front(), 2);
    if (!sound_definition(parse_table_def(buffer, l, code_page), t.tdef_len)) return std::nullopt;
    return buffer;
}

// The largest column count any row of the table was written with (rows keep the count
// the table had then, deleted columns included).
uint16_t widest_row(const FixContext& context, const Layout& l, uint32_t tdef_page) {
    uint16_t widest = 0;
    for (uint32_t n = 1; n < context.page_count(); ++n) {
        const std::vector<uint8_t> bytes = context.read_page(n);
        DataPage page(bytes, l);
        if (!page.is_data_page() || page.is_lval() || page.owner() != tdef_page) continue;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot slot = page.slot(i);
            if (!slot.bounds_ok || slot.deleted() || slot.overflow()) continue;
            const Bytes row = page.row(i);
            widest = std::max<uint16_t>(widest, l.row_count_size == 1 ? u8_at(row, 0) : u16_at(row, 0));
        }
    }
    return widest;
}

// Rewrites the count fields of one definition's first page; true when anything changed.
bool fix_one(FixContext& context, const TableDef& t, uint16_t code_page) {
    const Layout& l = *context.header().layout;
    std::vector<uint8_t> first = context.read_page(t.page);
    if (first.size() < l.tdef_variable_start) return false;

    TableDef now = t;
    const TableDefResult as_stored = parse_table_def(t.buffer, l, code_page);
    if (!sound_definition(as_stored, t.tdef_len)) {
        if (as_stored.table && as_stored.table->complete && sound_definition(as_stored, uint32_t(as_stored.table->parsed_length))) {
            put(first, kTdefLength, uint32_t(as_stored.table->parsed_length), 4);  // only the length is off
        } else if (auto rebuilt = rebuild_zeroed_tail(t, l, code_page)) {
            write_table_def(context, t, *rebuilt);
            first = context.read_page(t.page);
            now = *parse_table_def(*rebuilt, l, code_page).table;
        } else if (const auto counts = rederive_counts(t, l, code_page)) {
            put_counts(first, l, *counts);
            std::vector<uint8_t> buffer = t.buffer;
            put_counts(buffer, l, *counts);
            now = *parse_table_def(buffer, l, code_page).table;
        } else if (auto buffer = rederive_lv_columns(t, l, code_page); buffer || (buffer = rederive_lengths(t, l, code_page))) {
            write_table_def(context, t, *buffer);
            first = context.read_page(t.page);
            now = *parse_table_def(*buffer, l, code_page).table;
        } else {
            return false;  // beyond re-deriving: left for the checks to report
        }
    }

    // Highest column number and variable slot ever used can only be at least what the
    // columns present use.
    uint16_t max_number = 0, max_var = 0;
    bool any_var = false;
    for (const Column& c : now.columns) {
        max_number = std::max<uint16_t>(max_number, c.number + 1);
        if (!c.fixed() && !c.bit_only()) {
            any_var = true;
            max_var = std::max<uint16_t>(max_var, c.var_index + 1);
        }
    }
    if (now.max_cols < max_number && max_number <= kMaxColumnsTried)
        put(first, l.tdef_max_cols, std::max<uint16_t>(max_number, widest_row(context, l, t.page)), 2);
    if (any_var && now.num_var_cols < max_var && max_var <= kMaxColumnsTried) put(first, l.tdef_num_var_cols, max_var, 2);

    const std::vector<uint8_t> before = context.read_page(t.page);
    if (first == before) return false;
    context.write_page(t.page, first);
    return true;
}

}  // namespace

void fix_table_defs_then_maps(FixContext& context, std::span<const Finding> findings) {
    fix_table_def_counts(context, {});
    fix_usage_maps(context, findings);
}

void fix_table_def_counts(FixContext& context, std::span<const Finding>) {
    fix_column_types(context);
    std::vector<uint32_t> pages;
    uint16_t code_page = 0;
    {
        Database& db = context.database();
        code_page = db.decode_context().code_page;
        for (const CatalogTable& t : every_table(db.catalog(), context.page_count())) pages.push_back(t.tdef_page);
    }
    std::sort(pages.begin(), pages.end());
    for (uint32_t page : pages) {
        const TableDefResult read = read_table_def(context.pages(), *context.header().layout, page, code_page);
        if (read.table) fix_one(context, *read.table, code_page);
    }
}

void fix_table_defs_or_drop(FixContext& context, std::span<const Finding> findings) {
    fix_table_def_counts(context, findings);
    drop_unreadable_tables(context, unreadable_user_tables(context),
                           "su definición está tan dañada que sus columnas no se pueden leer; la tabla se "
                           "retira de la base de datos");
}

}  // namespace jet
