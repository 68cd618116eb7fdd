#include "jet/dropped_row.h"

#include <type_traits>

namespace jet {

std::string recovered_value_text(const Value& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Null>) return {};
            else if constexpr (std::is_same_v<T, bool>) return v ? "1" : "0";
            else if constexpr (std::is_same_v<T, uint8_t>) return std::to_string(unsigned(v));
            else if constexpr (std::is_arithmetic_v<T>) return std::to_string(v);
            else if constexpr (std::is_same_v<T, Currency>) return format_currency(v.scaled);
            else if constexpr (std::is_same_v<T, DateTime>) return format_datetime(v.days);
            else if constexpr (std::is_same_v<T, ExtendedDateTime>) return format_extended_datetime(v.ascii);
            else if constexpr (std::is_same_v<T, Decimal>) return format_decimal(v);
            else if constexpr (std::is_same_v<T, Guid>) return format_guid(v);
            else if constexpr (std::is_same_v<T, std::string>) return v;
            else return hex_lower(v.bytes);
        },
        value);
}

RecoveredItem dropped_row_item(const TableDef& table, const DecodeContext& context, std::string table_name,
                               uint32_t page, uint16_t slot, Bytes row, std::string reason) {
    RecoveredItem item;
    item.table = std::move(table_name);
    item.page = page;
    item.row = slot;
    item.reason = std::move(reason);
    item.raw.assign(row.begin(), row.end());
    const CrackedRow cracked = crack_row(table, *context.layout, row);
    if (!cracked.usable) return item;
    for (size_t k = 0; k < table.columns.size() && k < cracked.fields.size(); ++k) {
        if (!cracked.fields[k].present) continue;
        Faults faults;
        const Value v = decode_field(table.columns[k], cracked.fields[k], context, faults);
        if (faults.empty() && !is_null(v)) item.values.emplace_back(table.columns[k].name, recovered_value_text(v));
    }
    return item;
}

}  // namespace jet
