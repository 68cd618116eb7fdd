// A definition whose last written sector never reached the disk: a run of 512 zeros over
// its end (index names, long-value maps, the FF FF that closes it). What lies before the
// zeros still reads as Access wrote it, so the definition is laid out again from that part:
// columns whole, indexes when every descriptor survived, names the zeros took given again
// (Columna<n>, Indice<n>), long-value map entries kept when whole, then the closing FF FF.
// Without the columns nothing can be told, and the table is left to the drop.
#include "jet/repair/table_def_zeroed_tail.h"

#include <algorithm>
#include <string>

#include "jet/base/bytes.h"
#include "jet/repair/fix_table_def.h"
#include "jet/check/lost_tables.h"

namespace jet {
namespace {

constexpr size_t kSector = 512;
constexpr size_t kContinuationHeader = 8;

// Offset in the logical buffer of the first all-zero sector of the chain before `end`.
std::optional<size_t> first_zeroed_sector(const TableDef& t, size_t page_size, size_t end) {
    const std::vector<uint8_t>& b = t.buffer;
    for (size_t k = 0; k < t.pages.size(); ++k) {
        const size_t base = k == 0 ? 0 : page_size + (k - 1) * (page_size - kContinuationHeader);
        for (size_t at = 0; at + kSector <= page_size; at += kSector) {
            const size_t from = at < (k == 0 ? 0 : kContinuationHeader) ? kContinuationHeader : at;
            const size_t start = base + from - (k == 0 ? 0 : kContinuationHeader);
            const size_t stop = base + at + kSector - (k == 0 ? 0 : kContinuationHeader);
            if (start >= end || stop > b.size()) continue;
            if (std::all_of(b.begin() + std::ptrdiff_t(start), b.begin() + std::ptrdiff_t(stop),
                            [](uint8_t v) { return v == 0; }))
                return start;
        }
    }
    return std::nullopt;
}

void put(std::vector<uint8_t>& b, size_t at, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) b[at + i] = uint8_t(value >> (8 * i));
}

void append_name(std::vector<uint8_t>& out, const Layout& l, const std::string& ascii) {
    const size_t length = l.name_length_size == 1 ? ascii.size() : 2 * ascii.size();
    for (size_t i = 0; i < l.name_length_size; ++i) out.push_back(uint8_t(length >> (8 * i)));
    for (char c : ascii) {
        out.push_back(uint8_t(c));
        if (l.name_length_size == 2) out.push_back(0);
    }
}

}  // namespace

std::optional<std::vector<uint8_t>> rebuild_zeroed_tail(const TableDef& t, const Layout& l, uint16_t code_page) {
    const std::vector<uint8_t>& b = t.buffer;
    if (t.pages.empty()) return std::nullopt;
    const size_t end = std::min<size_t>(t.tdef_len, b.size());
    const auto zeros = first_zeroed_sector(t, l.page_size, end);
    if (!zeros || *zeros < l.tdef_variable_start) return std::nullopt;
    const size_t cut = *zeros;
    const uint64_t columns = u16_at(b, l.tdef_num_cols), real = u32_at(b, l.tdef_num_real_idx),
                   logical = u32_at(b, l.tdef_num_idx);
    if (columns == 0 || columns > 4096 || real > 64 || logical > 64) return std::nullopt;
    size_t pos = l.tdef_variable_start;
    const size_t counts_at = pos;
    pos += real * l.real_index_count_entry_size;
    const size_t columns_at = pos;
    pos += columns * l.column_size;
    if (pos > cut) return std::nullopt;  // column descriptors lost: nothing tells the rows' layout

    // A name whose length or bytes reach the zeros is lost, and so is where everything after it lies.
    bool whole = true;
    auto take_names = [&](uint64_t count, std::vector<std::optional<std::pair<size_t, size_t>>>& names) {
        for (uint64_t i = 0; i < count; ++i) {
            if (whole && pos + l.name_length_size <= cut) {
                const size_t length = l.name_length_size == 1 ? u8_at(b, pos) : u16_at(b, pos);
                if (pos + l.name_length_size + length <= cut) {
                    names.emplace_back(std::pair{pos, l.name_length_size + length});
                    pos += l.name_length_size + length;
                    continue;
                }
            }
            whole = false;
            names.emplace_back(std::nullopt);
        }
    };
    std::vector<std::optional<std::pair<size_t, size_t>>> column_names, index_names;
    take_names(columns, column_names);
    const size_t real_at = pos;
    const size_t logical_at = real_at + real * l.real_index_size;
    const bool keep_indexes = whole && logical_at + logical * l.logical_index_size <= cut;
    if (keep_indexes) {
        pos = logical_at + logical * l.logical_index_size;
        take_names(logical, index_names);
    }
    std::vector<uint8_t> out(b.begin(), b.begin() + std::ptrdiff_t(l.tdef_variable_start));
    if (keep_indexes) out.insert(out.end(), b.begin() + std::ptrdiff_t(counts_at), b.begin() + std::ptrdiff_t(columns_at));
    out.insert(out.end(), b.begin() + std::ptrdiff_t(columns_at),
               b.begin() + std::ptrdiff_t(columns_at + columns * l.column_size));
    for (size_t i = 0; i < column_names.size(); ++i) {
        if (column_names[i]) {
            const auto [at, size] = *column_names[i];
            out.insert(out.end(), b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + size));
        } else {
            append_name(out, l, "Columna" + std::to_string(u16_at(b, columns_at + i * l.column_size + l.col_number)));
        }
    }
    if (keep_indexes) {
        out.insert(out.end(), b.begin() + std::ptrdiff_t(real_at),
                   b.begin() + std::ptrdiff_t(logical_at + logical * l.logical_index_size));
        for (size_t i = 0; i < index_names.size(); ++i) {
            if (index_names[i]) {
                const auto [at, size] = *index_names[i];
                out.insert(out.end(), b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + size));
            } else {
                append_name(out, l, "Indice" + std::to_string(i + 1));
            }
        }
        // Long-value map entries wholly before the zeros.
        while (whole && pos + 2 <= cut && u16_at(b, pos) != 0xFFFF && pos + 10 <= cut) {
            out.insert(out.end(), b.begin() + std::ptrdiff_t(pos), b.begin() + std::ptrdiff_t(pos + 10));
            pos += 10;
        }
    } else {
        put(out, l.tdef_num_real_idx, 0, 4);
        put(out, l.tdef_num_idx, 0, 4);
    }
    out.push_back(0xFF);
    out.push_back(0xFF);
    put(out, 0x08, uint32_t(out.size()), 4);
    // The rewritten buffer must fit the pages the chain has.
    const size_t room = l.page_size + (t.pages.size() - 1) * (l.page_size - kContinuationHeader);
    if (out.size() > room) return std::nullopt;
    const TableDefResult parsed = parse_table_def(out, l, code_page);
    if (!sound_definition(parsed, uint32_t(out.size())) || !column_layout_sound(*parsed.table)) return std::nullopt;
    return out;
}

}  // namespace jet
