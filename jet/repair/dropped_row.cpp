#include "jet/repair/dropped_row.h"

#include <type_traits>

namespace jet {

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
