#include "jet/format/null_field_places.h"

#include <optional>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/row.h"

namespace jet {

namespace {

// A row's variable-offset entries: where each one's low byte lies and, for Jet 3, the
// 256s its jump bytes add (a Jet 4 entry is a whole u16).
struct OffsetEntries {
    std::vector<size_t> at;
    std::vector<size_t> high;  // Jet 3 only
    bool jet3 = false;

    size_t value(std::span<const uint8_t> row, size_t i) const {
        return jet3 ? row[at[i]] + 256 * high[i] : u16_at(row, at[i]);
    }
    bool set(std::span<uint8_t> row, size_t i, size_t lo, size_t hi) const {
        if (!jet3) {
            row[at[i]] = static_cast<uint8_t>(lo);
            row[at[i] + 1] = static_cast<uint8_t>(lo >> 8);
            return true;
        }
        const size_t floor = 256 * high[i], target = std::max(lo, floor);
        if (target > hi || target > floor + 255) return false;
        row[at[i]] = static_cast<uint8_t>(target - floor);
        return true;
    }
};

std::optional<OffsetEntries> offset_entries(const Layout& layout, std::span<const uint8_t> row) {
    const size_t L = row.size();
    OffsetEntries e;
    e.jet3 = layout.jet3;
    const size_t n = layout.jet3 ? u8_at(row, 0) : u16_at(row, 0), nm = (n + 7) / 8;
    if (!layout.jet3) {
        if (L < 2 + nm + 4) return std::nullopt;
        const size_t v = u16_at(row, L - nm - 2);
        if (L < 2 + nm + 2 + 2 * (v + 1)) return std::nullopt;
        for (size_t i = 0; i <= v; ++i) e.at.push_back(L - nm - 4 - 2 * i);
        return e;
    }
    // Jet 3: as the row codec reads it, jump bytes after the offsets.
    if (L < 1 + nm + 1) return std::nullopt;
    const size_t last = L - 1, v = row[last - nm], jumps = (L - 1) / 256;
    if (last < nm + jumps + 1 + v + 1) return std::nullopt;
    const size_t base = last - nm - jumps - 1;
    if (base - v < 1) return std::nullopt;
    const size_t real_jumps = (base - v) / 256 < jumps ? jumps - 1 : jumps;
    size_t used = 0;
    for (size_t i = 0; i <= v; ++i) {
        while (used < real_jumps && row[last - nm - 1 - used] == i) ++used;
        e.at.push_back(base - i);
        e.high.push_back(used);
    }
    return e;
}

bool decodes(const TableDef& table, const Layout& layout, std::span<const uint8_t> row) {
    const CrackedRow cracked = crack_row(table, layout, row);
    return cracked.usable && cracked.faults.empty();
}

}  // namespace

bool place_null_fields(const TableDef& table, const Layout& layout, std::span<uint8_t> row) {
    const std::optional<OffsetEntries> entries = offset_entries(layout, row);
    if (!entries || table.num_var_cols == 0) return false;
    const CrackedRow cracked = crack_row(table, layout, row);
    if (!cracked.usable) return false;
    // Entries a present field uses stay; so do the first (end of the fixed area) and the
    // last (end of the variable data).
    const size_t count = entries->at.size();
    std::vector<bool> pinned(count, false);
    pinned.front() = pinned.back() = true;
    for (size_t k = 0; k < table.columns.size(); ++k) {
        const Column& c = table.columns[k];
        if (!cracked.fields[k].present || c.fixed() || c.bit_only()) continue;
        if (size_t(c.var_index) + 1 >= count) continue;
        pinned[c.var_index] = pinned[c.var_index + 1] = true;
    }
    std::vector<uint8_t> mended(row.begin(), row.end());
    size_t previous = entries->value(mended, 0);
    for (size_t i = 1; i + 1 < count; ++i) {
        size_t value = entries->value(mended, i);
        if (!pinned[i]) {
            size_t next = i + 1;
            while (!pinned[next]) ++next;
            const size_t hi = entries->value(mended, next);
            if (previous > hi) return false;
            if (value < previous || value > hi) {
                if (!entries->set(mended, i, previous, hi)) return false;
                value = entries->value(mended, i);
            }
        }
        previous = value;
    }
    if (!decodes(table, layout, mended)) return false;
    std::copy(mended.begin(), mended.end(), row.begin());
    return true;
}

}  // namespace jet
