#include "jet/index/unique_keys.h"

#include <algorithm>
#include <map>

#include "jet/index/index_check.h"
#include "jet/index/index_rebuild.h"
#include "jet/index/index_row_key.h"
#include "jet/index/key_sorter.h"

namespace jet {
namespace {

std::string row_text(const RowLocation& at) {
    return "fila " + std::to_string(at.row) + " de la página " + std::to_string(at.page);
}

struct KeyedScan {
    std::vector<RowLocation> where;
    std::vector<UniqueKeyedRow> rows;
};

bool referenced_by(const std::vector<Value>& values, const std::vector<IncomingReferences>& incoming) {
    for (const IncomingReferences& in : incoming) {
        const ReferenceKey key = reference_key(values, in.columns);
        if (!key.empty() && in.keys.count(key)) return true;
    }
    return false;
}

uint32_t packed_row(uint32_t page, unsigned row) { return (page << 8) | (row & 0xFF); }

// The rows whose key in some of the indexes equals another row's (all-NULL keys apart),
// packed and sorted. Keys are sorted within bounded memory (runs on disk for a large
// table), so a table of millions of rows whose keys are all distinct, the usual case,
// costs no more than a few runs' buffers. An index a key cannot be built for is dropped
// from `usable`.
std::vector<uint32_t> rows_with_repeated_keys(Database& db, const TableDef& table, const std::string& name,
                                              const std::vector<IndexKeyPlan>& plans, const KeySortLimits& limits,
                                              std::vector<bool>& usable) {
    StoredRowKeys stored(table, db.decode_context());
    std::vector<size_t> prepared;
    for (const IndexKeyPlan& plan : plans) prepared.push_back(stored.prepare(plan));
    KeySortLimits each = limits;
    each.memory = limits.memory / plans.size();
    std::vector<KeySorter> keys;
    for (size_t k = 0; k < plans.size(); ++k) keys.emplace_back(each);
    std::span<const uint8_t> key;
    Faults faults;
    db.scan_stored_rows(table, name, [&](const RowLocation& at, Bytes raw) {
        if (!stored.load(raw)) return;
        for (size_t k = 0; k < plans.size(); ++k) {
            if (!usable[k]) continue;
            bool all_null = false;
            if (!stored.key(prepared[k], key, all_null)) {
                usable[k] = false;
                keys[k].clear();
                continue;
            }
            keys[k].add(key, RowPointer{at.page, static_cast<uint8_t>(at.row)}, all_null);
        }
    }, faults);
    std::vector<uint32_t> rows;
    for (size_t k = 0; k < plans.size(); ++k) {
        if (!usable[k]) continue;
        keys[k].finish();
        for_each_repeated_key(keys[k], [&](RowPointer earlier, RowPointer row) {
            rows.push_back(packed_row(earlier.page, earlier.row));
            rows.push_back(packed_row(row.page, row.row));
        });
        keys[k] = KeySorter();
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

}  // namespace

bool unique_real_index(const TableDef& table, size_t real_index) {
    if (real_index >= table.real_indexes.size()) return false;
    if (table.real_indexes[real_index].flags & index_flag::unique) return true;
    for (const LogicalIndex& li : table.logical_indexes)
        if (li.real_number == real_index && li.index_type == 1) return true;
    return false;
}

std::vector<RepeatedKey> plan_repeated_keys(const std::vector<UniqueKeyedRow>& rows, size_t index_count) {
    std::vector<RepeatedKey> out;
    std::vector<bool> kept(rows.size(), true);
    for (size_t k = 0; k < index_count; ++k) {
        std::map<index_key::Key, std::vector<size_t>> groups;
        for (size_t r = 0; r < rows.size(); ++r)
            if (kept[r] && k < rows[r].keys.size() && rows[r].keys[k]) groups[*rows[r].keys[k]].push_back(r);
        for (const auto& [key, members] : groups) {
            if (members.size() < 2) continue;
            size_t keeper = members.front();
            for (size_t r : members)
                if (rows[r].referenced) {
                    keeper = r;
                    break;
                }
            for (size_t r : members) {
                if (r == keeper) continue;
                kept[r] = false;
                out.push_back({k, r, keeper});
            }
        }
    }
    return out;
}

std::vector<DuplicateKeyRow> duplicate_key_rows(Database& db, const TableDef& table, const std::string& name,
                                                const std::vector<Relationship>& relationships,
                                                const KeySortLimits& limits) {
    std::vector<size_t> indexes;
    std::vector<IndexKeyPlan> plans;
    for (size_t i = 0; i < table.real_indexes.size(); ++i) {
        if (!unique_real_index(table, i)) continue;
        IndexKeyPlan plan = plan_index_key(table, table.real_indexes[i], db.layout(), db.header().version_byte);
        if (!plan.encodable) continue;
        indexes.push_back(i);
        plans.push_back(std::move(plan));
    }
    if (indexes.empty()) return {};

    // Keys from the stored rows, built exactly as the check builds them (text as its UTF-16
    // code units), so that rows the check tells apart are never taken for repeats. A key
    // that cannot be built for some row says nothing about that index. Only rows that share
    // a key with another take part: which of them stay is decided over them alone, in the
    // table's physical order, as it would be over every row.
    std::vector<bool> usable(plans.size(), true);
    const std::vector<uint32_t> involved = rows_with_repeated_keys(db, table, name, plans, limits, usable);
    if (involved.empty()) return {};
    KeyedScan s;
    {
        StoredRowKeys stored(table, db.decode_context());
        std::vector<size_t> prepared;
        for (const IndexKeyPlan& plan : plans) prepared.push_back(stored.prepare(plan));
        index_key::Key key;
        Faults faults;
        db.scan_stored_rows(table, name, [&](const RowLocation& at, Bytes raw) {
            if (!std::binary_search(involved.begin(), involved.end(), packed_row(at.page, at.row)) || !stored.load(raw)) return;
            UniqueKeyedRow row;
            for (size_t k = 0; k < plans.size(); ++k) {
                bool all_null = false;
                if (usable[k] && stored.key(prepared[k], key, all_null) && !all_null) row.keys.push_back(key);
                else row.keys.push_back(std::nullopt);
            }
            s.where.push_back(at);
            s.rows.push_back(std::move(row));
        }, faults);
    }
    std::vector<RepeatedKey> repeats = plan_repeated_keys(s.rows, plans.size());
    if (repeats.empty()) return {};

    // Who references whom is read only when some key repeats: from the decoded rows, by place.
    const std::vector<IncomingReferences> incoming = incoming_references(db, relationships, table, name);
    if (!incoming.empty()) {
        std::map<std::pair<uint32_t, uint16_t>, size_t> position;
        for (size_t r = 0; r < s.where.size(); ++r) position[{s.where[r].page, s.where[r].row}] = r;
        Faults faults;
        db.scan_rows(table, name, [&](const RowLocation& at, std::vector<Value>&& values) {
            const auto it = position.find({at.page, at.row});
            if (it != position.end()) s.rows[it->second].referenced = referenced_by(values, incoming);
        }, faults);
        repeats = plan_repeated_keys(s.rows, plans.size());  // referenced rows keep their keys
    }

    std::vector<DuplicateKeyRow> out;
    for (const RepeatedKey& r : repeats) {
        const size_t real = indexes[r.index];
        out.push_back({real, real_index_label(table, real), s.where[r.row], s.where[r.kept], s.rows[r.kept].referenced,
                       s.rows[r.row].referenced});
    }
    return out;
}

std::string duplicate_key_text(const DuplicateKeyRow& d) {
    std::string why = " por ser la primera";
    if (d.kept_referenced) why = d.row_referenced ? " por ser la primera (otras tablas referencian las dos)"
                                                  : " porque otras tablas la referencian";
    return "la " + row_text(d.row) + " repite la clave de la " + row_text(d.kept) + ", que se conserva" + why;
}

}  // namespace jet
