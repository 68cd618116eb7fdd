#include "table_def_damage.h"

#include "injector.h"

namespace damage {
namespace {

struct Offsets {
    std::size_t table_type, num_cols, num_idx, num_real_idx, variable_start, count_entry, column, real_index,
        logical_index, name_length, ri_columns, ri_map, li_real, col_number, col_slot, col_flags, max_cols, col_offset;
};

Offsets offsets(bool jet3) {
    if (jet3) return {0x14, 0x19, 0x1B, 0x1F, 0x2B, 8, 18, 39, 20, 1, 0, 30, 4, 1, 3, 13, 0x15, 14};
    return {0x28, 0x2D, 0x2F, 0x33, 0x3F, 12, 25, 52, 28, 2, 4, 34, 8, 5, 7, 15, 0x29, 21};
}

uint32_t le(const std::vector<uint8_t>& b, std::size_t at, std::size_t width) {
    uint32_t v = 0;
    for (std::size_t i = 0; i < width && at + i < b.size(); ++i) v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}

}  // namespace

uint32_t DefinitionAt::get(const std::vector<uint8_t>& f, std::size_t at, std::size_t width) const {
    uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= uint32_t(f[origin.at(at + i)]) << (8 * i);
    return v;
}

void DefinitionAt::put(std::vector<uint8_t>& f, std::size_t at, uint32_t value, std::size_t width) const {
    for (std::size_t i = 0; i < width; ++i) f[origin.at(at + i)] = uint8_t(value >> (8 * i));
}

std::vector<uint32_t> definition_pages(const std::vector<uint8_t>& f) {
    const Layout l = layout_of(f);
    const Offsets o = offsets(l.jet3);
    std::vector<uint32_t> out;
    for (std::size_t p = 3; p < f.size() / l.page_size; ++p) {
        const std::size_t at = p * l.page_size;
        const uint8_t type = f[at + o.table_type];
        if (f[at] == 0x02 && f[at + 1] == 0x01 && (type == 'N' || type == 'S')) out.push_back(uint32_t(p));
    }
    return out;
}

std::optional<DefinitionAt> definition_at(const std::vector<uint8_t>& f, uint32_t page) {
    const Layout l = layout_of(f);
    const Offsets o = offsets(l.jet3);
    DefinitionAt d;
    d.page = page;
    std::vector<uint8_t> buffer;
    for (uint32_t p = page; p != 0 && d.pages.size() < 8;) {
        const std::size_t at = std::size_t(p) * l.page_size;
        if (at + l.page_size > f.size() || f[at] != 0x02) return std::nullopt;
        for (std::size_t i = d.pages.empty() ? 0 : 8; i < l.page_size; ++i) {
            buffer.push_back(f[at + i]);
            d.origin.push_back(at + i);
        }
        d.pages.push_back(p);
        p = le(f, at + 4, 4);
    }
    d.system = buffer[o.table_type] == 'S';
    d.autonumber = l.jet3 ? 0x10 : 0x14;
    d.rows = le(buffer, l.jet3 ? 0x0C : 0x10, 4);
    const uint32_t cols = le(buffer, o.num_cols, 2), logical = le(buffer, o.num_idx, 4),
                   real = le(buffer, o.num_real_idx, 4);
    if (cols > 512 || logical > 64 || real > 64) return std::nullopt;
    std::size_t pos = o.variable_start + real * o.count_entry;
    d.max_columns_stored = buffer[o.max_cols];
    for (uint32_t i = 0; i < cols; ++i, pos += o.column) {
        if (pos + o.column > buffer.size()) return std::nullopt;
        d.column_numbers.push_back(pos + o.col_number);
        d.column_slots.push_back(pos + o.col_slot);
        d.column_flags.push_back(buffer[pos + o.col_flags]);
        d.column_types.push_back(buffer[pos]);
        d.column_starts.push_back(pos);
        d.column_offsets.push_back(pos + o.col_offset);
    }
    d.first_name = pos;
    d.terminator = le(buffer, 0x08, 4) - 2;
    if (d.terminator + 2 > buffer.size()) return std::nullopt;
    for (uint32_t i = 0; i < cols && pos < buffer.size(); ++i) pos += o.name_length + le(buffer, pos, o.name_length);
    for (uint32_t i = 0; i < real; ++i, pos += o.real_index) {
        if (pos + o.real_index > buffer.size()) return std::nullopt;
        d.index_maps.push_back(pos + o.ri_map);
        d.index_columns.push_back(pos + o.ri_columns);
    }
    for (uint32_t i = 0; i < logical; ++i, pos += o.logical_index) {
        if (pos + o.logical_index > buffer.size()) return std::nullopt;
        d.logical_reals.push_back(pos + o.li_real);
    }
    for (uint32_t i = 0; i < logical && pos < buffer.size(); ++i) pos += o.name_length + le(buffer, pos, o.name_length);
    // Long-value map entries (column number, two map pointers) up to FF FF.
    for (; pos + 2 <= buffer.size() && le(buffer, pos, 2) != 0xFFFF; pos += 10) d.lv_columns.push_back(pos);
    return d;
}

}  // namespace damage
