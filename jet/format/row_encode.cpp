#include "jet/format/row_encode.h"

#include "jet/format/row.h"

namespace jet {
namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = uint8_t(value);
    out[at + 1] = uint8_t(value >> 8);
}

// Jet 4: offsets (reversed, eod first from the mask's side), var count, null mask.
void append_jet4_trailer(std::vector<uint8_t>& row, const std::vector<uint32_t>& offsets) {
    const size_t v = offsets.size() - 1;
    std::vector<uint8_t> trailer(2 * (v + 1) + 2);
    // Lowest address first: eod, offset[v-1], ..., offset[0], then V.
    for (size_t i = 0; i <= v; ++i) put16(trailer, 2 * (v - i), offsets[i]);
    put16(trailer, 2 * (v + 1), uint32_t(v));
    row.insert(row.end(), trailer.begin(), trailer.end());
}

// Jet 3: low bytes of the offsets (reversed), the jump table, var count. A jump byte
// names the first variable slot whose offset reaches the next multiple of 256; when the
// row is one jump longer than its offsets need, the lowest jump byte is a 0xFF filler.
bool append_jet3_trailer(std::vector<uint8_t>& row, const std::vector<uint32_t>& offsets, size_t mask_bytes) {
    const size_t v = offsets.size() - 1;
    const size_t eod = offsets[v];
    if (v > 255) return false;
    const size_t real_jumps = eod / 256;
    const size_t fixed_part = eod + (v + 1) + 1 + mask_bytes;  // without jump bytes
    size_t jumps = real_jumps;
    while ((fixed_part + jumps - 1) / 256 > jumps) ++jumps;
    if (jumps > real_jumps + 1) return false;
    std::vector<uint8_t> jump(jumps, 0xFF);
    for (size_t k = 0; k < real_jumps; ++k) {
        size_t first = 0;
        while (first <= v && offsets[first] < 256 * (k + 1)) ++first;
        if (first > v) return false;
        jump[k] = uint8_t(first);
    }
    for (size_t i = 0; i <= v; ++i) row.push_back(uint8_t(offsets[v - i]));
    for (size_t k = jumps; k-- > 0;) row.push_back(jump[k]);
    row.push_back(uint8_t(v));
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> encode_row(const TableDef& table, const Layout& layout,
                                               const std::vector<FieldValue>& fields) {
    if (fields.size() != table.columns.size() || table.max_cols == 0) return std::nullopt;
    const size_t cs = layout.row_count_size;
    const size_t n = table.max_cols;
    const size_t mask_bytes = (n + 7) / 8;

    size_t fixed_end = cs;
    for (const Column& c : table.columns) {
        if (c.number >= n) return std::nullopt;
        if (c.fixed() && !c.bit_only()) fixed_end = std::max<size_t>(fixed_end, cs + c.fixed_offset + fixed_size(c));
    }
    std::vector<uint8_t> row(fixed_end, 0);
    if (cs == 1) row[0] = uint8_t(n);
    else put16(row, 0, uint32_t(n));

    std::vector<uint8_t> mask(mask_bytes, 0);
    std::vector<const std::vector<uint8_t>*> var(table.num_var_cols, nullptr);
    for (size_t k = 0; k < table.columns.size(); ++k) {
        const Column& c = table.columns[k];
        const FieldValue& f = fields[k];
        if (f.present) mask[c.number / 8] |= uint8_t(1u << (c.number % 8));
        if (c.bit_only() || !f.present) continue;
        if (c.fixed()) {
            if (f.bytes.size() != fixed_size(c)) return std::nullopt;
            std::copy(f.bytes.begin(), f.bytes.end(), row.begin() + cs + c.fixed_offset);
        } else {
            if (c.var_index >= var.size()) return std::nullopt;
            var[c.var_index] = &f.bytes;
        }
    }
    if (table.num_var_cols > 0) {
        std::vector<uint32_t> offsets;
        for (const auto* bytes : var) {
            offsets.push_back(uint32_t(row.size()));
            if (bytes) row.insert(row.end(), bytes->begin(), bytes->end());
        }
        offsets.push_back(uint32_t(row.size()));  // eod
        if (layout.jet3) {
            if (!append_jet3_trailer(row, offsets, mask_bytes)) return std::nullopt;
        } else {
            if (row.size() > 0xFFFF) return std::nullopt;
            append_jet4_trailer(row, offsets);
        }
    }
    row.insert(row.end(), mask.begin(), mask.end());
    return row;
}

}  // namespace jet
