#include "jet/format/table_def.h"

#include <algorithm>
#include <set>

#include "jet/file/page_file.h"
#include "jet/base/text.h"

namespace jet {

const Column* TableDef::column_by_number(uint16_t number) const {
    for (const auto& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

std::string data_type_name(uint8_t type) {
    switch (type) {
        case data_type::boolean: return "boolean";
        case data_type::byte: return "byte";
        case data_type::integer: return "integer";
        case data_type::long_integer: return "long";
        case data_type::currency: return "currency";
        case data_type::single: return "single";
        case data_type::double_: return "double";
        case data_type::datetime: return "datetime";
        case data_type::binary: return "binary";
        case data_type::text: return "text";
        case data_type::ole: return "ole";
        case data_type::memo: return "memo";
        case data_type::guid: return "guid";
        case data_type::decimal: return "decimal";
        case data_type::complex: return "complex";
        case data_type::big_int: return "large_number";
        case data_type::datetime_ext: return "datetime_extended";
        default: {
            static const char digits[] = "0123456789abcdef";
            return std::string("unknown_0x") + digits[type >> 4] + digits[type & 0x0F];
        }
    }
}

namespace {

class Parser {
public:
    Parser(Bytes buffer, const Layout& layout, uint16_t code_page, Faults& faults)
        : b_(buffer), l_(layout), code_page_(code_page), faults_(faults) {}

    bool parse(TableDef& t) {
        if (!fits(b_, 0, l_.tdef_variable_start)) {
            fault(FaultKind::TableDefTruncated, "la definición de tabla es más corta que su cabecera");
            return false;
        }
        t.tdef_len = u32_at(b_, 0x08);
        t.num_rows = u32_at(b_, l_.tdef_num_rows);
        t.autonumber = u32_at(b_, l_.tdef_autonumber);
        t.table_type = u8_at(b_, l_.tdef_table_type);
        t.max_cols = u16_at(b_, l_.tdef_max_cols);
        t.num_var_cols = u16_at(b_, l_.tdef_num_var_cols);
        t.num_cols = u16_at(b_, l_.tdef_num_cols);
        t.num_idx = u32_at(b_, l_.tdef_num_idx);
        t.num_real_idx = u32_at(b_, l_.tdef_num_real_idx);
        t.owned_map = u32_at(b_, l_.tdef_owned_map);
        t.free_map = u32_at(b_, l_.tdef_free_map);
        pos_ = l_.tdef_variable_start;

        // Counts larger than the buffer could hold are damage; refuse before allocating.
        if (t.num_real_idx > b_.size() / l_.real_index_count_entry_size ||
            t.num_idx > b_.size() / l_.logical_index_size || t.num_cols > b_.size() / l_.column_size) {
            fault(FaultKind::TableDefTruncated, "los contadores de la definición de tabla no caben en ella");
            return false;
        }
        std::vector<uint32_t> entry_counts;
        for (uint32_t i = 0; i < t.num_real_idx; ++i) {
            if (!need(l_.real_index_count_entry_size)) return false;
            entry_counts.push_back(u32_at(b_, pos_ + 4));
            pos_ += l_.real_index_count_entry_size;
        }
        std::vector<Column> columns;
        for (uint16_t i = 0; i < t.num_cols; ++i) {
            if (!need(l_.column_size)) return false;
            columns.push_back(column_at(pos_));
            pos_ += l_.column_size;
        }
        for (auto& c : columns) {
            auto name = read_name();
            if (!name) {
                // Keep what we have: columns without names are still usable for rows.
                for (auto& rest : columns)
                    if (rest.name.empty()) rest.name = "Columna" + std::to_string(rest.number);
                t.columns = sort_columns(std::move(columns));
                return false;
            }
            c.name = std::move(*name);
        }
        t.columns = sort_columns(std::move(columns));
        check_columns(t);

        for (uint32_t i = 0; i < t.num_real_idx; ++i) {
            if (!need(l_.real_index_size)) return false;
            t.real_indexes.push_back(real_index_at(pos_, entry_counts[i]));
            t.real_indexes.back().descriptor_offset = pos_;
            pos_ += l_.real_index_size;
        }
        for (uint32_t i = 0; i < t.num_idx; ++i) {
            if (!need(l_.logical_index_size)) return false;
            t.logical_indexes.push_back(logical_index_at(pos_));
            pos_ += l_.logical_index_size;
        }
        for (auto& index : t.logical_indexes) {
            auto name = read_name();
            if (!name) return false;
            index.name = std::move(*name);
            if (index.real_number >= t.num_real_idx)
                fault(FaultKind::TableDefIndex, "el índice «" + index.name + "» remite a un índice físico inexistente");
        }
        while (true) {
            if (!need(2)) return false;
            if (u16_at(b_, pos_) == 0xFFFF) {
                pos_ += 2;
                break;
            }
            if (!need(10)) return false;
            t.long_value_maps.push_back({u16_at(b_, pos_), u32_at(b_, pos_ + 2), u32_at(b_, pos_ + 6), pos_});
            pos_ += 10;
        }
        t.parsed_length = pos_;
        if (t.tdef_len != pos_)
            fault(FaultKind::TableDefLength, "la longitud anotada (" + std::to_string(t.tdef_len) +
                                                 ") no coincide con la de sus secciones (" + std::to_string(pos_) + ")");
        return true;
    }

private:
    void fault(FaultKind kind, std::string detail) { faults_.push_back({kind, 0, -1, {}, std::move(detail)}); }

    bool need(size_t n) {
        if (fits(b_, pos_, n)) return true;
        fault(FaultKind::TableDefTruncated, "la definición de tabla termina antes de tiempo (posición " +
                                                std::to_string(pos_) + ")");
        return false;
    }

    Column column_at(size_t at) const {
        Column c;
        c.descriptor_offset = at;
        c.type = c.stored_type = u8_at(b_, at + l_.col_type);
        c.number = u16_at(b_, at + l_.col_number);
        c.var_index = u16_at(b_, at + l_.col_var_index);
        c.sort_order = u16_at(b_, at + l_.col_sort_order);
        if (!l_.jet3) c.sort_version = u8_at(b_, at + kJet4ColumnSortVersion);
        if (l_.jet3) c.code_page = u16_at(b_, at + l_.col_code_page);
        if (c.type == data_type::decimal) {
            c.precision = u8_at(b_, at + l_.col_precision);
            c.scale = u8_at(b_, at + l_.col_scale);
        }
        if (c.type == data_type::complex && !l_.jet3) c.complex_id = u32_at(b_, at + l_.col_complex_id);
        c.flags = u8_at(b_, at + l_.col_flags);
        if (!l_.jet3) c.ext_flags = u8_at(b_, at + l_.col_ext_flags);
        c.fixed_offset = u16_at(b_, at + l_.col_fixed_offset);
        c.length = u16_at(b_, at + l_.col_length);
        return c;
    }

    std::optional<std::string> read_name() {
        if (!need(l_.name_length_size)) return std::nullopt;
        size_t length = l_.name_length_size == 1 ? u8_at(b_, pos_) : u16_at(b_, pos_);
        pos_ += l_.name_length_size;
        if (!need(length)) return std::nullopt;
        auto bytes = b_.subspan(pos_, length);
        pos_ += length;
        return decode_text(bytes, l_, code_page_);
    }

    RealIndex real_index_at(size_t at, uint32_t entry_count) const {
        RealIndex r;
        r.entry_count = entry_count;
        for (size_t i = 0; i < r.columns.size(); ++i) {
            size_t c = at + l_.ri_columns + 3 * i;
            r.columns[i].number = u16_at(b_, c);
            r.columns[i].ascending = u8_at(b_, c + 2) == 0x01;
        }
        r.owned_map = u32_at(b_, at + l_.ri_owned_map);
        r.root_page = u32_at(b_, at + l_.ri_root_page);
        r.flags = u8_at(b_, at + l_.ri_flags);
        return r;
    }

    LogicalIndex logical_index_at(size_t at) const {
        LogicalIndex x;
        x.number = u32_at(b_, at + l_.li_number);
        x.real_number = u32_at(b_, at + l_.li_real_number);
        x.rel_type = u8_at(b_, at + l_.li_rel_type);
        x.rel_index = static_cast<int32_t>(u32_at(b_, at + l_.li_rel_index));
        x.rel_table = u32_at(b_, at + l_.li_rel_table);
        x.cascade_updates = u8_at(b_, at + l_.li_cascade_updates);
        x.cascade_deletes = u8_at(b_, at + l_.li_cascade_deletes);
        x.index_type = u8_at(b_, at + l_.li_index_type);
        return x;
    }

    static std::vector<Column> sort_columns(std::vector<Column> columns) {
        std::stable_sort(columns.begin(), columns.end(),
                         [](const Column& a, const Column& b) { return a.number < b.number; });
        return columns;
    }

    void check_columns(const TableDef& t) {
        std::set<uint16_t> numbers, var_slots;
        for (const auto& c : t.columns) {
            const std::string who = "la columna «" + c.name + "»";
            if (!numbers.insert(c.number).second)
                fault(FaultKind::TableDefColumn, who + " repite el número de columna " + std::to_string(c.number));
            if (c.number >= t.max_cols)
                fault(FaultKind::TableDefColumn, who + " tiene un número mayor que el máximo de columnas");
            if (!c.fixed() && !c.bit_only()) {
                if (c.var_index >= t.num_var_cols)
                    fault(FaultKind::TableDefColumn, who + " usa una posición variable fuera de rango");
                else if (!var_slots.insert(c.var_index).second)
                    fault(FaultKind::TableDefColumn, who + " comparte su posición variable con otra columna");
            }
        }
    }

    Bytes b_;
    const Layout& l_;
    uint16_t code_page_;
    Faults& faults_;
    size_t pos_ = 0;
};

}  // namespace

TableDefResult parse_table_def(Bytes buffer, const Layout& layout, uint16_t code_page) {
    TableDefResult result;
    TableDef t;
    t.buffer.assign(buffer.begin(), buffer.end());
    Parser parser(t.buffer, layout, code_page, result.faults);
    t.complete = parser.parse(t);
    result.table = std::move(t);
    return result;
}

TrailingEnds::TrailingEnds(Bytes b) : end_(b.size(), 0) {
    for (size_t pos = b.size(); pos-- > 0;) {
        if (!fits(b, pos, 2)) continue;
        if (u16_at(b, pos) == 0xFFFF)
            end_[pos] = static_cast<uint32_t>(pos + 2);
        else if (pos + 10 < b.size())
            end_[pos] = end_[pos + 10];
    }
}

std::optional<size_t> TrailingEnds::from(size_t pos) const {
    if (pos >= end_.size() || end_[pos] == 0) return std::nullopt;
    return end_[pos];
}

namespace {

// Mirrors Parser::parse step for step, positions only, up to the long-value map entries.
std::optional<size_t> sections_end(Bytes b, const Layout& l) {
    if (!fits(b, 0, l.tdef_variable_start)) return std::nullopt;
    const uint64_t columns = u16_at(b, l.tdef_num_cols), logical = u32_at(b, l.tdef_num_idx),
                   real = u32_at(b, l.tdef_num_real_idx);
    if (real > b.size() / l.real_index_count_entry_size || logical > b.size() / l.logical_index_size ||
        columns > b.size() / l.column_size)
        return std::nullopt;
    size_t pos = l.tdef_variable_start;
    auto skip = [&](uint64_t n) {
        if (!fits(b, pos, n)) return false;
        pos += n;
        return true;
    };
    auto names = [&](uint64_t count) {
        for (uint64_t i = 0; i < count; ++i) {
            if (!fits(b, pos, l.name_length_size)) return false;
            const size_t length = l.name_length_size == 1 ? u8_at(b, pos) : u16_at(b, pos);
            if (!skip(l.name_length_size + length)) return false;
        }
        return true;
    };
    if (!skip(real * l.real_index_count_entry_size) || !skip(columns * l.column_size) || !names(columns) ||
        !skip(real * l.real_index_size) || !skip(logical * l.logical_index_size) || !names(logical))
        return std::nullopt;
    return pos;
}

}  // namespace

std::optional<size_t> parsed_end(Bytes b, const Layout& l) { return parsed_end(b, l, TrailingEnds(b)); }

std::optional<size_t> parsed_end(Bytes b, const Layout& l, const TrailingEnds& trailing) {
    const std::optional<size_t> pos = sections_end(b, l);
    return pos ? trailing.from(*pos) : std::nullopt;
}

size_t table_def_pages_needed(uint32_t tdef_len, size_t page_size) {
    if (tdef_len <= page_size || page_size <= 8) return 1;
    return 1 + (tdef_len - page_size + (page_size - 8) - 1) / (page_size - 8);
}

// The largest definition Access writes (255 columns with the longest names, 32 indexes,
// their long-value maps) stays under 64 KB. A chain is read no further than twice that:
// a chain running on for the whole file, or one that many definitions continue into,
// then costs each table a bounded number of pages.
constexpr size_t kMaxTableDefBytes = 128 * 1024;

TableDefResult read_table_def(const PageFile& file, const Layout& layout, uint32_t page, uint16_t code_page) {
    TableDefResult result;
    auto fault = [&](FaultKind kind, uint32_t at, std::string detail) {
        result.faults.push_back({kind, at, -1, {}, std::move(detail)});
    };
    const PageRef first = file.fetch(page);
    if (first.empty()) {
        fault(FaultKind::PageOutOfRange, page, "la definición de tabla está fuera del archivo");
        return result;
    }
    if (first[0] != page_type::table_def) {
        fault(FaultKind::TableDefUnreadable, page, "la página no contiene una definición de tabla");
        return result;
    }
    std::vector<uint8_t> buffer(first.bytes().begin(), first.bytes().end());
    std::vector<uint32_t> chain{page};
    std::set<uint32_t> seen{page};
    uint32_t next = u32_at(first, 4);
    while (next != 0 && buffer.size() < kMaxTableDefBytes) {
        if (!seen.insert(next).second) {
            fault(FaultKind::TableDefChainCycle, next, "la cadena de la definición de tabla vuelve sobre sí misma");
            break;
        }
        const PageRef p = file.fetch(next);
        if (p.empty()) {
            fault(FaultKind::TableDefChainBroken, next, "la definición de tabla continúa fuera del archivo");
            break;
        }
        if (p[0] != page_type::table_def) {
            fault(FaultKind::TableDefChainBroken, next, "la definición de tabla continúa en una página que no es suya");
            break;
        }
        chain.push_back(next);
        buffer.insert(buffer.end(), p.bytes().begin() + 8, p.bytes().end());
        next = u32_at(p, 4);
    }
    auto parsed = parse_table_def(buffer, layout, code_page);
    for (auto& f : parsed.faults) {
        if (f.page == 0) f.page = page;
        result.faults.push_back(std::move(f));
    }
    result.table = std::move(parsed.table);
    result.table->page = page;
    result.table->pages = std::move(chain);
    return result;
}

bool sound_definition(const TableDefResult& r, uint32_t tdef_len) {
    if (!r.table || !r.table->complete || r.table->parsed_length != tdef_len) return false;
    const TableDef& t = *r.table;
    std::set<uint16_t> numbers;
    for (const Column& c : t.columns) {
        if (c.name.empty() || !numbers.insert(c.number).second) return false;
    }
    for (const LogicalIndex& li : t.logical_indexes)
        if (li.real_number >= t.num_real_idx || li.name.empty()) return false;
    // Long-value map entries name memo / OLE columns of the table, each once.
    std::set<uint16_t> mapped;
    for (const LongValueMaps& lv : t.long_value_maps) {
        const Column* c = t.column_by_number(lv.column_number);
        if (!c || !c->long_value() || !mapped.insert(lv.column_number).second) return false;
    }
    return true;
}

}  // namespace jet
