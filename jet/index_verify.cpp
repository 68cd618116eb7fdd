#include "jet/index_verify.h"

#include <algorithm>

#include "jet/unique_keys.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

std::string logical_name(const TableDef& table, size_t real_index) {
    for (const LogicalIndex& li : table.logical_indexes)
        if (li.real_number == real_index) return li.name;
    return {};
}

void compare_with_owned_map(const Database& db, const RealIndex& index, IndexVerdict& v) {
    const UsageMap map = read_usage_map(db.file(), db.layout(), index.owned_map);
    if (!map.readable || !map.faults.empty()) return;  // the definition check reports the map itself
    std::vector<uint32_t> reached = v.tree.pages;
    std::sort(reached.begin(), reached.end());
    std::set_difference(reached.begin(), reached.end(), map.pages.begin(), map.pages.end(),
                        std::back_inserter(v.unmapped_pages));
    std::set_difference(map.pages.begin(), map.pages.end(), reached.begin(), reached.end(),
                        std::back_inserter(v.stray_pages));
}

}  // namespace

std::vector<IndexVerdict> verify_table_indexes(Database& db, const TableDef& table,
                                               const std::string& table_name, bool rows_readable,
                                               Faults& faults) {
    std::vector<IndexVerdict> verdicts;
    std::vector<IndexKeyPlan> plans;
    bool any_encodable = false;
    for (size_t i = 0; i < table.real_indexes.size(); ++i) {
        const RealIndex& index = table.real_indexes[i];
        IndexVerdict v;
        v.real_index = i;
        v.name = logical_name(table, i);
        v.tree = read_index_tree(db.file(), db.layout(), index.root_page, table.page, index.entry_count);
        compare_with_owned_map(db, index, v);
        IndexKeyPlan plan = plan_index_key(table, index, db.layout(), db.header().version_byte);
        v.text_orders = plan.text_orders;
        if (!plan.encodable) {
            v.reason = plan.reason;
        } else if (!rows_readable) {
            v.reason = "las filas de la tabla no se pueden leer";
            plan.encodable = false;
        } else {
            any_encodable = true;
        }
        plans.push_back(std::move(plan));
        verdicts.push_back(std::move(v));
    }
    if (!any_encodable) return verdicts;

    // One pass over the rows feeds every index whose keys we can build.
    std::vector<KeyedRows> keyed(verdicts.size());
    // The stored count is a hint only (it may be damaged): capped, it saves the regrowth.
    const size_t expected_rows = std::min<size_t>(table.num_rows, 1u << 16);
    for (size_t i = 0; i < keyed.size(); ++i)
        if (plans[i].encodable) keyed[i].reserve(expected_rows, expected_rows * 8);
    index_key::Key key;  // reused: the keys themselves go to each index's buffer
    std::vector<bool> failed(verdicts.size(), false);
    StoredRowKeys rows(table, db.decode_context());
    db.scan_stored_rows(
        table, table_name,
        [&](const RowLocation& at, Bytes row) {
            if (!rows.load(row)) return;
            RowPointer pointer{at.page, static_cast<uint8_t>(at.row)};
            for (size_t i = 0; i < plans.size(); ++i) {
                if (!plans[i].encodable || failed[i]) continue;
                bool all_null = false;
                if (!rows.key(plans[i], key, all_null)) {
                    failed[i] = true;
                    continue;
                }
                keyed[i].add(pointer, key, all_null, rows.text_span());
            }
        },
        faults);
    for (size_t i = 0; i < verdicts.size(); ++i) {
        if (!plans[i].encodable) continue;
        if (failed[i]) {
            verdicts[i].reason = "un valor de la tabla no tiene el tipo de su columna";
            continue;
        }
        verdicts[i].keys_checked = true;
        const uint8_t flags = static_cast<uint8_t>(table.real_indexes[i].flags |
                                                   (unique_real_index(table, i) ? index_flag::unique : 0));
        verdicts[i].data = compare_index_with_rows(verdicts[i].tree.entries, keyed[i], flags);
    }
    return verdicts;
}

}  // namespace jet
