#pragma once
// Encodes rows the way Access lays them out, for decoder tests.
#include <cstdint>
#include <vector>

#include "jet/format/table_def.h"

namespace test {

struct RowSpec {
    uint16_t stored_columns = 0;
    std::vector<uint8_t> fixed;                   // fixed area after the column count
    std::vector<std::vector<uint8_t>> var_values; // by var index
    std::vector<bool> present;                    // null-mask bits by column number
};

inline std::vector<uint8_t> null_mask(const RowSpec& s) {
    std::vector<uint8_t> mask((s.stored_columns + 7) / 8, 0);
    for (size_t n = 0; n < s.present.size() && n < s.stored_columns; ++n)
        if (s.present[n]) mask[n / 8] |= uint8_t(1u << (n % 8));
    return mask;
}

inline std::vector<uint8_t> jet4_row(const RowSpec& s) {
    std::vector<uint8_t> row{uint8_t(s.stored_columns), uint8_t(s.stored_columns >> 8)};
    row.insert(row.end(), s.fixed.begin(), s.fixed.end());
    std::vector<uint16_t> offsets;
    for (const auto& v : s.var_values) {
        offsets.push_back(uint16_t(row.size()));
        row.insert(row.end(), v.begin(), v.end());
    }
    offsets.push_back(uint16_t(row.size()));  // eod
    for (size_t i = offsets.size(); i-- > 0;) {
        row.push_back(uint8_t(offsets[i]));
        row.push_back(uint8_t(offsets[i] >> 8));
    }
    const uint16_t v = uint16_t(s.var_values.size());
    row.push_back(uint8_t(v));
    row.push_back(uint8_t(v >> 8));
    auto mask = null_mask(s);
    row.insert(row.end(), mask.begin(), mask.end());
    return row;
}

// Jet 3: one-byte offsets plus a jump table for every 256-byte boundary the variable
// data crosses, padded with a dummy 0xFF when the row needs more jump bytes than that.
inline std::vector<uint8_t> jet3_row(const RowSpec& s) {
    std::vector<uint8_t> head{uint8_t(s.stored_columns)};
    head.insert(head.end(), s.fixed.begin(), s.fixed.end());
    std::vector<size_t> offsets;
    for (const auto& v : s.var_values) {
        offsets.push_back(head.size());
        head.insert(head.end(), v.begin(), v.end());
    }
    const size_t eod = head.size();
    offsets.push_back(eod);
    const size_t var_count = s.var_values.size();
    const size_t nm = (s.stored_columns + 7) / 8;
    size_t jumps = 0, length = 0;
    for (int pass = 0; pass < 4; ++pass) {
        length = eod + (var_count + 1) + jumps + 1 + nm;
        jumps = (length - 1) / 256;
    }
    length = eod + (var_count + 1) + jumps + 1 + nm;
    std::vector<uint8_t> jump_values;
    for (size_t m = 1; m <= eod / 256; ++m)
        for (size_t i = 0; i <= var_count; ++i)
            if (offsets[i] >= 256 * m) {
                jump_values.push_back(uint8_t(i));
                break;
            }
    while (jump_values.size() < jumps) jump_values.push_back(0xFF);
    std::vector<uint8_t> row = head;
    for (size_t i = offsets.size(); i-- > 0;) row.push_back(uint8_t(offsets[i] & 0xFF));
    for (size_t k = jump_values.size(); k-- > 0;) row.push_back(jump_values[k]);
    row.push_back(uint8_t(var_count));
    auto mask = null_mask(s);
    row.insert(row.end(), mask.begin(), mask.end());
    (void)length;
    return row;
}

inline jet::Column column(const char* name, uint8_t type, uint16_t number, bool fixed, uint16_t offset_or_var,
                          uint16_t length = 0) {
    jet::Column c;
    c.name = name;
    c.type = type;
    c.number = number;
    c.flags = fixed ? jet::column_flag::fixed : 0;
    if (fixed)
        c.fixed_offset = offset_or_var;
    else
        c.var_index = offset_or_var;
    c.length = length;
    return c;
}

}  // namespace test
