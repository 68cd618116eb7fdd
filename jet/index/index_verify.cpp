#include "jet/index/index_verify.h"

#include <algorithm>

#include "jet/index/entry_digest.h"
#include "jet/index/unique_keys.h"
#include "jet/format/usage_map.h"

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

// What the first walk of a tree says about its size: how to deal the rows in shares.
// Per leaf, the rows its entries point into: a share skips the leaves that point elsewhere.
struct LeafRows {
    size_t entries = 0;
    uint32_t low = UINT32_MAX;
    uint32_t high = 0;
};

struct WalkedIndex {
    std::vector<uint32_t> entry_pages;
    std::vector<LeafRows> leaves;  // parallel to entry_pages
    size_t entries = 0;
    size_t key_bytes = 0;
    EntryDigest digest;
    bool repeats_a_key = false;  // two neighbouring entries hold the same key
    std::vector<uint8_t> last_key;

    void take(std::span<const uint8_t> key, RowPointer row) {
        digest.add(row, key);
        if (entries > 0 && std::equal(key.begin(), key.end(), last_key.begin(), last_key.end())) repeats_a_key = true;
        last_key.assign(key.begin(), key.end());
        // The walk names a page after handing over its entries: a new leaf starts here.
        while (leaves.size() < entry_pages.size()) leaves.emplace_back();
        if (leaves.size() == entry_pages.size()) leaves.emplace_back();
        LeafRows& leaf = leaves.back();
        ++leaf.entries;
        leaf.low = std::min(leaf.low, row.page);
        leaf.high = std::max(leaf.high, row.page);
        ++entries;
        key_bytes += key.size();
    }
    // Each entry in tree order with its position, for those whose row page is in [low, high).
    template <class Visit>
    void entries_into(const Database& db, uint32_t low, uint64_t high, Visit&& visit) const {
        size_t n = 0;
        for (size_t p = 0; p < entry_pages.size(); ++p) {
            const LeafRows& leaf = leaves[p];
            if (leaf.entries == 0 || leaf.high < low || leaf.low >= high) {
                n += leaf.entries;
                continue;
            }
            for_each_entry_on(db.file(), db.layout(), entry_pages[p], [&](std::span<const uint8_t> key, RowPointer row) {
                if (row.page >= low && row.page < high) visit(n, key, row);
                ++n;
            });
        }
    }
};

// Sets of indexes checked over one scan of the rows: their byte-per-entry verdicts
// together stay within the limit (one index alone may exceed it).
std::vector<std::vector<size_t>> index_groups(const std::vector<size_t>& indexes, const std::vector<WalkedIndex>& walked,
                                              size_t limit) {
    std::vector<std::vector<size_t>> out;
    size_t held = 0;
    for (size_t i : indexes) {
        if (out.empty() || held + walked[i].entries > limit) {
            out.emplace_back();
            held = 0;
        }
        out.back().push_back(i);
        held += walked[i].entries;
    }
    return out;
}

// Keyed rows take a slot of this size besides their key; tree entries about half.
constexpr size_t kRowSlotBytes = 32;
constexpr size_t kEntrySlotBytes = 24;

// How many shares the rows of a group are dealt in so that the keys of one share, of every
// index of the group at once, stay near the limit.
size_t share_count(const std::vector<size_t>& group, const std::vector<WalkedIndex>& walked, size_t rows,
                   size_t pages, size_t limit) {
    size_t bytes = 0, largest = 0;
    for (size_t i : group) {
        const size_t average = walked[i].entries ? walked[i].key_bytes / walked[i].entries + 1 : 16;
        const size_t n = std::max(rows, walked[i].entries);
        bytes += n * (average + kRowSlotBytes);
        largest = std::max(largest, walked[i].entries * (average + kEntrySlotBytes));
    }
    const size_t shares = (bytes + largest) / std::max<size_t>(limit, 1) + 1;
    return std::clamp<size_t>(shares, 1, std::max<size_t>(pages, 1));
}

// The first page of each share: shares cover every page number, the first from 0.
std::vector<uint32_t> share_starts(std::vector<uint32_t> pages, size_t shares) {
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    std::vector<uint32_t> out{0};
    for (size_t k = 1; k < shares && !pages.empty(); ++k) {
        const uint32_t start = pages[k * pages.size() / shares];
        if (start > out.back()) out.push_back(start);
    }
    return out;
}

uint8_t comparison_flags(const TableDef& table, size_t i) {
    return static_cast<uint8_t>(table.real_indexes[i].flags | (unique_real_index(table, i) ? index_flag::unique : 0));
}

// What one scan of the rows says of an index: the digest of the entries it should hold,
// and the keys of rows whose key columns are all NULL (one per distinct key; more than a
// few distinct ones means the index is not what we think it is: the exact join decides).
struct RowDigest {
    EntryDigest digest;
    std::vector<std::vector<uint8_t>> all_null_keys;
    bool failed = false;  // a value does not have its column's type
    bool usable = true;
};

constexpr size_t kMostNullKeys = 4;

std::vector<RowDigest> digest_rows(Database& db, const TableDef& table, const std::string& table_name,
                                   const std::vector<uint32_t>& pages, const std::vector<IndexKeyPlan>& plans,
                                   const std::vector<size_t>& indexes, Faults& faults) {
    std::vector<RowDigest> out(indexes.size());
    StoredRowKeys rows(table, db.decode_context());
    std::vector<size_t> prepared;
    for (size_t i : indexes) prepared.push_back(rows.prepare(plans[i]));
    std::vector<uint8_t> flags;
    for (size_t i : indexes) flags.push_back(comparison_flags(table, i));
    db.scan_stored_rows_on(
        pages, table, table_name,
        [&](const RowLocation& at, Bytes row) {
            if (!rows.load(row)) return;
            const RowPointer pointer{at.page, static_cast<uint8_t>(at.row)};
            for (size_t g = 0; g < indexes.size(); ++g) {
                RowDigest& d = out[g];
                if (d.failed) continue;
                std::span<const uint8_t> key;
                bool all_null = false;
                if (!rows.key(prepared[g], key, all_null)) {
                    d.failed = true;
                    continue;
                }
                if (all_null) {
                    const auto known = std::find_if(d.all_null_keys.begin(), d.all_null_keys.end(),
                                                    [&](const std::vector<uint8_t>& k) {
                                                        return std::equal(k.begin(), k.end(), key.begin(), key.end());
                                                    });
                    if (known == d.all_null_keys.end()) {
                        if (d.all_null_keys.size() >= kMostNullKeys) d.usable = false;
                        else d.all_null_keys.emplace_back(key.begin(), key.end());
                    }
                    if (flags[g] & index_flag::ignore_nulls) continue;
                }
                d.digest.add(pointer, key);
            }
        },
        faults);
    return out;
}

// The verdict of every index whose entries digest as its rows do: no join, and a walk in
// order only for a unique index holding neighbouring equal keys. Returns the others.
std::vector<size_t> settle_by_digest(Database& db, const TableDef& table, const std::string& table_name,
                                     const std::vector<uint32_t>& pages, const std::vector<IndexKeyPlan>& plans,
                                     const std::vector<size_t>& encodable, std::vector<WalkedIndex>& walked,
                                     std::vector<IndexVerdict>& verdicts, const IndexVerifyLimits& limits,
                                     Faults& faults) {
    const std::vector<RowDigest> digests = digest_rows(db, table, table_name, pages, plans, encodable, faults);
    std::vector<size_t> differing;
    for (size_t g = 0; g < encodable.size(); ++g) {
        const size_t i = encodable[g];
        const RowDigest& d = digests[g];
        if (d.failed) {
            verdicts[i].reason = "un valor de la tabla no tiene el tipo de su columna";
            continue;
        }
        if (!d.usable || d.digest != walked[i].digest) {
            differing.push_back(i);
            continue;
        }
        const uint8_t flags = comparison_flags(table, i);
        IndexComparison agreeing =
            IndexComparison::agreeing(walked[i].entries, flags, d.all_null_keys, limits.issues_per_kind);
        if (walked[i].repeats_a_key && (flags & index_flag::unique))
            walked[i].entries_into(db, 0, uint64_t{1} << 32,
                                   [&](size_t, std::span<const uint8_t> key, RowPointer row) { agreeing.take(key, row); });
        verdicts[i].keys_checked = true;
        verdicts[i].data = agreeing.finish();
    }
    return differing;
}

}  // namespace

std::vector<IndexVerdict> verify_table_indexes(Database& db, const TableDef& table,
                                               const std::string& table_name, bool rows_readable,
                                               Faults& faults, const IndexVerifyLimits& limits) {
    std::vector<IndexVerdict> verdicts;
    std::vector<IndexKeyPlan> plans;
    std::vector<WalkedIndex> walked(table.real_indexes.size());
    std::vector<size_t> encodable;
    for (size_t i = 0; i < table.real_indexes.size(); ++i) {
        const RealIndex& index = table.real_indexes[i];
        IndexVerdict v;
        v.real_index = i;
        v.name = logical_name(table, i);
        WalkedIndex& w = walked[i];
        v.tree = walk_index_tree(
            db.file(), db.layout(), index.root_page, table.page,
            [&w](std::span<const uint8_t> key, RowPointer row) { w.take(key, row); }, &w.entry_pages);
        w.leaves.resize(w.entry_pages.size());
        compare_with_owned_map(db, index, v);
        IndexKeyPlan plan = plan_index_key(table, index, db.layout(), db.header().version_byte);
        v.text_orders = plan.text_orders;
        if (!plan.encodable) {
            v.reason = plan.reason;
        } else if (!rows_readable) {
            v.reason = "las filas de la tabla no se pueden leer";
            plan.encodable = false;
        } else {
            encodable.push_back(i);
        }
        plans.push_back(std::move(plan));
        verdicts.push_back(std::move(v));
    }
    if (encodable.empty()) return verdicts;
    const std::vector<uint32_t> pages = db.data_pages(table, table_name, faults);
    Faults ignored;  // a later scan of the same pages finds the same faults
    bool first_scan = true;
    if (limits.digest_first) {
        encodable = settle_by_digest(db, table, table_name, pages, plans, encodable, walked, verdicts, limits, faults);
        first_scan = false;
        if (encodable.empty()) return verdicts;
    }

    // The rows are dealt in shares by page; each share is scanned once for a group of
    // indexes, and each index of the group walks its leaves for the entries into it.
    // Rows expected: as many as the fullest index has entries (the stored count may be
    // damaged); without entries, the count within what the pages can hold.
    size_t rows_hint = 0;
    for (size_t i : encodable) rows_hint = std::max(rows_hint, walked[i].entries);
    if (rows_hint == 0) rows_hint = std::min<size_t>(table.num_rows, pages.size() * 64);
    std::vector<bool> failed(verdicts.size(), false);
    for (const std::vector<size_t>& group : index_groups(encodable, walked, limits.held_entries)) {
        const std::vector<uint32_t> starts =
            share_starts(pages, share_count(group, walked, rows_hint, pages.size(), limits.share_bytes));
        std::vector<IndexComparison> comparisons;
        for (size_t i : group)
            comparisons.emplace_back(walked[i].entries, comparison_flags(table, i), limits.issues_per_kind);
        for (size_t k = 0; k < starts.size(); ++k) {
            const uint32_t low = starts[k];
            const uint64_t high = k + 1 < starts.size() ? starts[k + 1] : uint64_t{1} << 32;
            std::vector<uint32_t> share;
            for (uint32_t p : pages)
                if (p >= low && p < high) share.push_back(p);
            std::vector<KeyedRows> keyed(group.size());
            index_key::Key key;  // reused: the keys themselves go to each index's buffer
            StoredRowKeys rows(table, db.decode_context());
            db.scan_stored_rows_on(
                share, table, table_name,
                [&](const RowLocation& at, Bytes row) {
                    if (!rows.load(row)) return;
                    RowPointer pointer{at.page, static_cast<uint8_t>(at.row)};
                    for (size_t g = 0; g < group.size(); ++g) {
                        const size_t i = group[g];
                        if (failed[i]) continue;
                        bool all_null = false;
                        if (!rows.key(plans[i], key, all_null)) {
                            failed[i] = true;
                            continue;
                        }
                        keyed[g].add(pointer, key, all_null, rows.text_span());
                    }
                },
                first_scan ? faults : ignored);
            for (size_t g = 0; g < group.size(); ++g) {
                const size_t i = group[g];
                if (failed[i]) continue;
                TreeEntries entries;
                std::vector<size_t> ordinals;
                walked[i].entries_into(db, low, high, [&](size_t n, std::span<const uint8_t> entry_key, RowPointer row) {
                    entries.add(entry_key, row);
                    ordinals.push_back(n);
                });
                comparisons[g].join(ordinals, entries, keyed[g]);
                keyed[g] = KeyedRows();  // released as soon as joined
            }
        }
        first_scan = false;
        for (size_t g = 0; g < group.size(); ++g) {
            const size_t i = group[g];
            if (failed[i]) {
                verdicts[i].reason = "un valor de la tabla no tiene el tipo de su columna";
                continue;
            }
            walked[i].entries_into(db, 0, uint64_t{1} << 32, [&](size_t, std::span<const uint8_t> key, RowPointer row) {
                comparisons[g].take(key, row);
            });
            verdicts[i].keys_checked = true;
            verdicts[i].data = comparisons[g].finish();
        }
    }
    return verdicts;
}

}  // namespace jet
