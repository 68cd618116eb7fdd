#include "jet/check/deleted_rows.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/format/data_page.h"
#include "jet/index/index.h"
#include "jet/index/index_rebuild.h"
#include "jet/index/index_row_key.h"

namespace jet {
namespace {

struct Candidate {
    RowPointer row;
    bool access_mark = false;  // deleted and overflow bits both set, as Access flags deletions
    std::vector<uint8_t> bytes;
    std::string index;  // the first index naming it with its key
};

// An interval of page bytes a live row holds.
struct Span {
    uint16_t start, end;
};

bool overlaps(const std::vector<Span>& live, const RowSlot& s) {
    return std::any_of(live.begin(), live.end(), [&](const Span& l) { return s.start < l.end && l.start < s.end; });
}

uint64_t live_rows(const PageFile& file, const Layout& layout, const TableDef& table,
                   std::span<const uint32_t> data_pages) {
    uint64_t n = 0;
    for (uint32_t number : data_pages) {
        const PageRef bytes = file.fetch(number);
        const DataPage page(bytes, layout);
        if (!page.is_data_page() || page.owner() != table.page) continue;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot s = page.slot(i);
            if (!s.deleted() && s.bounds_ok) ++n;
        }
    }
    return n;
}

uint64_t row_key(RowPointer p) { return uint64_t(p.page) << 8 | p.row; }

// Slots live overflow headers point at: deleted by flag, live through their header.
std::set<uint64_t> overflow_targets(const PageFile& file, const Layout& layout, const TableDef& table,
                                    std::span<const uint32_t> data_pages) {
    std::set<uint64_t> out;
    for (uint32_t number : data_pages) {
        const PageRef bytes = file.fetch(number);
        const DataPage page(bytes, layout);
        if (!page.is_data_page() || page.owner() != table.page) continue;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot s = page.slot(i);
            if (s.deleted() || !s.overflow() || s.length() < 4) continue;
            out.insert(row_key(RowPointer::from_u32(u32_at(page.row(i), 0))));
        }
    }
    return out;
}

// The deleted slots whose bytes could be a row of the table: flagged deleted alone (a stray
// bit) or with the overflow bit as Access flags its deletions, no overflow header's target.
std::vector<Candidate> candidates_of(const PageFile& file, const Layout& layout, const TableDef& table,
                                    std::span<const uint32_t> data_pages) {
    const std::set<uint64_t> targets = overflow_targets(file, layout, table, data_pages);
    std::vector<Candidate> out;
    for (uint32_t number : data_pages) {
        const PageRef bytes = file.fetch(number);
        const DataPage page(bytes, layout);
        // A page with faults of its own is the row fixes' to judge.
        if (!page.is_data_page() || page.owner() != table.page || !validate_data_page(page, number).empty()) continue;
        std::vector<Span> live;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot s = page.slot(i);
            if (!s.deleted() && s.bounds_ok) live.push_back({s.start, s.end});
        }
        for (uint16_t i = 0; i < page.row_count() && i <= 0xFF; ++i) {
            const RowSlot s = page.slot(i);
            const RowPointer at{number, static_cast<uint8_t>(i)};
            if (!s.deleted() || !s.bounds_ok || s.length() == 0 || overlaps(live, s) || targets.count(row_key(at)))
                continue;
            const Bytes row = page.row(i);
            if (!row_packed(table, layout, row) || !row_sound(table, layout, row)) continue;
            out.push_back({at, s.overflow(), {row.begin(), row.end()}, {}});
        }
    }
    return out;
}

// Marks each candidate an index names with an entry carrying the key its bytes give.
// False when no index of the table could be read and keyed (the count is all there is).
bool name_by_indexes(Database& db, const TableDef& table, std::vector<Candidate>& candidates) {
    bool usable_index = false;
    std::map<uint64_t, size_t> by_row;
    for (size_t i = 0; i < candidates.size(); ++i) by_row[row_key(candidates[i].row)] = i;
    StoredRowKeys keys(table, db.decode_context());
    index_key::Key key;
    for (size_t r = 0; r < table.real_indexes.size(); ++r) {
        const RealIndex& index = table.real_indexes[r];
        const IndexKeyPlan plan = plan_index_key(table, index, db.layout(), db.header().version_byte);
        if (!plan.encodable) continue;
        const IndexTree tree = read_index_tree(db.file(), db.layout(), index.root_page, table.page, index.entry_count);
        if (!tree.valid()) continue;
        usable_index = true;
        for (size_t e = 0; e < tree.entries.size(); ++e) {
            const auto found = by_row.find(row_key(tree.entries.row(e)));
            if (found == by_row.end()) continue;
            Candidate* it = &candidates[found->second];
            if (!it->index.empty()) continue;
            bool all_null = false;
            if (!keys.load(it->bytes) || !keys.key(plan, key, all_null)) continue;
            const auto entry = tree.entries.key(e);
            if (std::equal(key.begin(), key.end(), entry.begin(), entry.end()))
                it->index = real_index_label(table, r);
        }
    }
    return usable_index;
}

}  // namespace

std::vector<CountedDeletedRow> counted_deleted_rows(Database& db, const TableDef& table,
                                                    std::span<const uint32_t> data_pages) {
    const uint64_t live = live_rows(db.file(), db.layout(), table, data_pages);
    if (table.num_rows <= live) return {};
    const uint64_t excess = table.num_rows - live;
    std::vector<Candidate> candidates = candidates_of(db.file(), db.layout(), table, data_pages);
    if (candidates.empty()) return {};
    std::vector<CountedDeletedRow> out;
    if (name_by_indexes(db, table, candidates)) {
        for (const Candidate& c : candidates)
            if (!c.index.empty()) out.push_back({c.row, c.index});
        if (out.size() > excess) return {};
        return out;
    }
    // The count alone: a row Access deleted keeps its bytes until the page is reused, and a
    // count left high by a crash would vouch for it just as well. Access never flags a
    // deletion with the deleted bit alone (that is an overflow target's), so only a stray
    // bit is taken back, and only when every candidate is one.
    if (candidates.size() != excess) return {};
    for (const Candidate& c : candidates) {
        if (c.access_mark) return {};
        out.push_back({c.row, {}});
    }
    return out;
}

}  // namespace jet
