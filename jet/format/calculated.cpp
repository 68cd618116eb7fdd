#include "jet/format/calculated.h"

#include <algorithm>
#include <vector>

#include "jet/base/format.h"

namespace jet {
namespace {

bool possible_result_type(uint8_t type) {
    switch (type) {
        case data_type::boolean:
        case data_type::integer:
        case data_type::long_integer:
        case data_type::currency:
        case data_type::single:
        case data_type::double_:
        case data_type::datetime:
        case data_type::text:
        case data_type::memo:
        case data_type::guid:
        case data_type::decimal: return true;
        default: return false;
    }
}

// Calculated decimals keep no precision of their own; they hold up to 28 digits.
constexpr uint8_t kCalculatedPrecision = 28;

}  // namespace

void apply_result_types(TableDef& table, const std::vector<std::pair<std::string, uint8_t>>& result_types) {
    for (Column& c : table.columns) {
        if (!c.calculated()) continue;
        for (const auto& [name, type] : result_types)
            if (name == c.name && possible_result_type(type)) {
                c.type = type;
                c.result_type_known = true;
            }
        if (!c.result_type_known && c.stored_type == data_type::text && c.length == 0) c.type = data_type::memo;
        if (c.type == data_type::decimal) c.precision = kCalculatedPrecision;
    }
}

bool unwrap_calculated(Bytes stored, Bytes& data) {
    if (stored.size() < kCalculatedDataOffset) return false;
    const size_t length = u32_at(stored, kCalculatedLengthOffset);
    if (length > stored.size() - kCalculatedDataOffset) return false;
    data = stored.subspan(kCalculatedDataOffset, length);
    return true;
}

bool calculated_decimal(Bytes data, Decimal& out) {
    if (data.size() < 4) return false;
    const size_t declared = u16_at(data, 0);
    const size_t count = declared > 0 ? declared : data.size() - 2;
    if (count < 2) return false;
    const size_t magnitude = std::min<size_t>((count - 2) / 4 * 4, 16);
    if (4 + magnitude > data.size()) return false;
    out = Decimal{};
    out.scale = data[2];
    out.negative = data[3] != 0;
    out.precision = kCalculatedPrecision;
    std::vector<uint32_t> words;  // most significant first
    size_t at = 4;
    if (magnitude % 8) {
        words.push_back(u32_at(data, at));
        at += 4;
    }
    for (; at < 4 + magnitude; at += 8) {
        words.push_back(u32_at(data, at + 4));
        words.push_back(u32_at(data, at));
    }
    std::copy(words.begin(), words.end(), out.words.end() - static_cast<std::ptrdiff_t>(words.size()));
    return true;
}

}  // namespace jet
