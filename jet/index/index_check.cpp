#include "jet/index/index_check.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace jet {
namespace {

uint32_t packed(RowPointer p) { return (p.page << 8) | p.row; }

std::string row_text(RowPointer p) {
    return "fila " + std::to_string(p.row) + " de la página " + std::to_string(p.page);
}

// Access's key and ours share everything outside our text values (their flags included).
bool differs_in_text_only(std::span<const uint8_t> theirs, std::span<const uint8_t> ours, index_key::TextSpan text) {
    if (text.empty()) return false;
    const size_t head = text.begin, tail = ours.size() - text.end;
    return theirs.size() >= head + tail && std::equal(ours.begin(), ours.begin() + head, theirs.begin()) &&
           std::equal(ours.end() - tail, ours.end(), theirs.end() - tail);
}

}  // namespace

bool IndexDataResult::sound() const {
    return std::all_of(issues.begin(), issues.end(),
                       [](const IndexDataIssue& i) { return i.kind == IndexDataIssueKind::KeyMismatch; });
}

void KeyedRows::add(RowPointer row, std::span<const uint8_t> key, bool all_null, index_key::TextSpan text) {
    if (bytes_.size() + key.size() > UINT32_MAX) throw std::length_error("index keys exceed 4 GiB");
    if (text.end > key.size()) text = {};
    rows_.push_back({row, static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(key.size()), all_null, text});
    bytes_.insert(bytes_.end(), key.begin(), key.end());
}

void KeyedRows::sort_by_row() {
    auto by_row = [](const Row& a, const Row& b) { return packed(a.row) < packed(b.row); };
    if (!std::is_sorted(rows_.begin(), rows_.end(), by_row)) std::sort(rows_.begin(), rows_.end(), by_row);
}

// What the join says of one entry: the row it names, and whether that row's key columns
// are all NULL (entries naming no row count as such).
namespace entry_state {
constexpr uint8_t no_row = 0, duplicate = 1, differs = 2, agrees = 3, kind_mask = 3, all_null = 4;
}

struct IndexComparison::State {
    uint8_t flags = 0;
    size_t cap = SIZE_MAX;
    bool agreeing = false;  // every entry agrees with its row (see agreeing())
    size_t agreeing_entries = 0;
    std::vector<std::vector<uint8_t>> all_null_keys;
    std::vector<uint8_t> state;  // by tree position
    // The row keys of entries whose key differs, by tree position (sorted before the walk).
    struct Differing {
        size_t ordinal;
        uint32_t offset;
        uint32_t length;
        index_key::TextSpan text;
    };
    std::vector<Differing> differing;
    std::vector<uint8_t> differing_bytes;
    std::vector<IndexDataIssue> missing;  // in row order

    // The walk in tree order.
    size_t next = 0;
    size_t next_differing = 0;
    bool sorted = false;
    std::vector<uint8_t> previous_key;
    RowPointer previous_row;
    bool has_previous = false;
    bool previous_all_null = true;
    std::vector<uint8_t> low;  // key of the last entry that agrees with its row
    bool has_low = false;
    struct Pending {
        RowPointer row;
        std::vector<uint8_t> entry_key;
        size_t differing;
        bool misplaced;
    };
    std::vector<Pending> pending;  // differing entries since the last agreeing one
    std::vector<IndexDataIssue> in_order;   // no row, repeated, unique violations
    std::vector<IndexDataIssue> key_issues;  // entries whose key differs, in tree order
    size_t counts[6] = {};
    IndexDataResult out;

    std::span<const uint8_t> differing_key(size_t d) const {
        return {differing_bytes.data() + differing[d].offset, differing[d].length};
    }
    void push(std::vector<IndexDataIssue>& to, IndexDataIssueKind kind, RowPointer row, std::string detail) {
        if (counts[static_cast<size_t>(kind)]++ < cap) to.push_back({kind, row, std::move(detail)});
    }
    void resolve_pending(const std::span<const uint8_t>* high);
};

namespace {

bool same_key(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool key_before(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

IndexComparison::IndexComparison(size_t entry_count, uint8_t index_flags, size_t issues_per_kind)
    : s_(std::make_unique<State>()) {
    s_->flags = index_flags;
    s_->cap = issues_per_kind;
    s_->state.assign(entry_count, entry_state::no_row | entry_state::all_null);
}

IndexComparison IndexComparison::agreeing(size_t entry_count, uint8_t index_flags,
                                          std::vector<std::vector<uint8_t>> all_null_keys, size_t issues_per_kind) {
    IndexComparison out(0, index_flags, issues_per_kind);
    out.s_->agreeing = true;
    out.s_->agreeing_entries = entry_count;
    out.s_->all_null_keys = std::move(all_null_keys);
    return out;
}

IndexComparison::~IndexComparison() = default;
IndexComparison::IndexComparison(IndexComparison&&) noexcept = default;
IndexComparison& IndexComparison::operator=(IndexComparison&&) noexcept = default;

void IndexComparison::join(const std::vector<size_t>& ordinals, const TreeEntries& entries, KeyedRows& rows) {
    State& s = *s_;
    rows.sort_by_row();
    // Rows by page: the rows of page p are pointers[first[p - low] .. first[p - low + 1]),
    // in row order, so an entry's row is found without a search over the whole share.
    std::vector<uint32_t> pointers(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) pointers[i] = packed(rows.row(i));
    const uint32_t low = rows.size() ? rows.row(0).page : 0;
    const uint32_t high = rows.size() ? rows.row(rows.size() - 1).page : 0;
    std::vector<uint32_t> first(size_t(high - low) + 2, 0);
    for (size_t i = 0; i < rows.size(); ++i) ++first[rows.row(i).page - low + 1];
    for (size_t p = 1; p < first.size(); ++p) first[p] += first[p - 1];
    std::vector<uint8_t> seen(rows.size(), 0);
    auto find_row = [&](RowPointer p) -> ptrdiff_t {
        if (rows.size() == 0 || p.page < low || p.page > high) return -1;
        const auto begin = pointers.begin() + first[p.page - low];
        const auto end = pointers.begin() + first[p.page - low + 1];
        if (begin == end) return -1;
        // A page with no deleted row before this one holds it at its own number.
        const auto guess = begin + std::min<ptrdiff_t>(p.row, end - begin - 1);
        if (*guess == packed(p)) return guess - pointers.begin();
        const auto it = std::lower_bound(begin, end, packed(p));
        if (it == end || *it != packed(p)) return -1;
        return it - pointers.begin();
    };
    for (size_t k = 0; k < entries.size() && k < ordinals.size(); ++k) {
        const size_t n = ordinals[k];
        if (n >= s.state.size()) continue;
        const ptrdiff_t at = find_row(entries.row(k));
        if (at < 0) continue;  // stays no_row
        const size_t i = static_cast<size_t>(at);
        uint8_t state = rows.all_null(i) ? entry_state::all_null : 0;
        if (seen[i]++) {
            state |= entry_state::duplicate;
        } else if (!same_key(rows.key(i), entries.key(k))) {
            state |= entry_state::differs;
            const std::span<const uint8_t> key = rows.key(i);
            if (s.differing_bytes.size() + key.size() > UINT32_MAX) throw std::length_error("index keys exceed 4 GiB");
            s.differing.push_back({n, static_cast<uint32_t>(s.differing_bytes.size()),
                                   static_cast<uint32_t>(key.size()), rows.text(i)});
            s.differing_bytes.insert(s.differing_bytes.end(), key.begin(), key.end());
        } else {
            state |= entry_state::agrees;
        }
        s.state[n] = state;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (seen[i]) continue;
        if ((s.flags & index_flag::ignore_nulls) && rows.all_null(i)) continue;
        s.push(s.missing, IndexDataIssueKind::MissingEntry, rows.row(i),
               "la " + row_text(rows.row(i)) + " no tiene entrada en el índice");
    }
}

void IndexComparison::State::resolve_pending(const std::span<const uint8_t>* high) {
    for (Pending& p : pending) {
        const std::span<const uint8_t> ours = differing_key(p.differing);
        const bool misplaced = p.misplaced || (high && key_before(*high, ours));
        if (misplaced || !differs_in_text_only(p.entry_key, ours, differing[p.differing].text))
            push(key_issues, IndexDataIssueKind::KeyWrong, p.row,
                 "la entrada de la " + row_text(p.row) + " no corresponde a los valores de la fila");
        else
            push(key_issues, IndexDataIssueKind::KeyMismatch, p.row,
                 "la clave de la entrada de la " + row_text(p.row) +
                     " no es la que se calcula para la fila, aunque la entrada está en su lugar y apunta a ella");
    }
    pending.clear();
}

void IndexComparison::take(std::span<const uint8_t> key, RowPointer row) {
    State& s = *s_;
    if (!s.sorted) {
        std::sort(s.differing.begin(), s.differing.end(),
                  [](const State::Differing& a, const State::Differing& b) { return a.ordinal < b.ordinal; });
        s.sorted = true;
    }
    if (s.agreeing) {
        const bool all_null = std::any_of(s.all_null_keys.begin(), s.all_null_keys.end(),
                                          [&](const std::vector<uint8_t>& k) { return same_key(k, key); });
        check_unique(key, row, all_null);
        return;
    }
    const size_t n = s.next++;
    const uint8_t state = n < s.state.size() ? s.state[n] : (entry_state::no_row | entry_state::all_null);
    const bool all_null = state & entry_state::all_null;
    ++s.out.entries_checked;
    switch (state & entry_state::kind_mask) {
        case entry_state::no_row:
            s.push(s.in_order, IndexDataIssueKind::EntryForNoRow, row,
                   "una entrada apunta a la " + row_text(row) + ", que no es una fila viva de la tabla");
            break;
        case entry_state::duplicate:
            s.push(s.in_order, IndexDataIssueKind::DuplicateEntry, row,
                   "la " + row_text(row) + " tiene más de una entrada");
            break;
        case entry_state::agrees: {
            ++s.out.keys_identical;
            s.resolve_pending(&key);
            s.low.assign(key.begin(), key.end());
            s.has_low = true;
            break;
        }
        case entry_state::differs: {
            while (s.next_differing < s.differing.size() && s.differing[s.next_differing].ordinal < n) ++s.next_differing;
            if (s.next_differing >= s.differing.size() || s.differing[s.next_differing].ordinal != n) break;
            const size_t d = s.next_differing++;
            const bool below_low = s.has_low && key_before(s.differing_key(d), s.low);
            s.pending.push_back({row, std::vector<uint8_t>(key.begin(), key.end()), d, below_low});
            break;
        }
    }
    check_unique(key, row, all_null);
}

void IndexComparison::check_unique(std::span<const uint8_t> key, RowPointer row, bool all_null) {
    State& s = *s_;
    // Entries are sorted, so equal keys are neighbours; all-NULL keys never conflict.
    if ((s.flags & index_flag::unique) && s.has_previous && same_key(s.previous_key, key) && !all_null &&
        !s.previous_all_null)
        s.push(s.in_order, IndexDataIssueKind::UniqueViolation, row,
               "el índice único repite el valor de la " + row_text(s.previous_row) + " en la " + row_text(row));
    s.previous_key.assign(key.begin(), key.end());
    s.previous_row = row;
    s.has_previous = true;
    s.previous_all_null = all_null;
}

IndexDataResult IndexComparison::finish() {
    State& s = *s_;
    s.resolve_pending(nullptr);
    if (s.agreeing) s.out.entries_checked = s.out.keys_identical = s.agreeing_entries;
    IndexDataResult out = std::move(s.out);
    out.issues = std::move(s.in_order);
    out.issues.insert(out.issues.end(), std::make_move_iterator(s.key_issues.begin()),
                      std::make_move_iterator(s.key_issues.end()));
    out.issues.insert(out.issues.end(), std::make_move_iterator(s.missing.begin()),
                      std::make_move_iterator(s.missing.end()));
    return out;
}

IndexDataResult compare_index_with_rows(const TreeEntries& entries, KeyedRows& rows, uint8_t index_flags) {
    IndexComparison comparison(entries.size(), index_flags);
    std::vector<size_t> ordinals(entries.size());
    for (size_t n = 0; n < ordinals.size(); ++n) ordinals[n] = n;
    comparison.join(ordinals, entries, rows);
    for (size_t n = 0; n < entries.size(); ++n) comparison.take(entries.key(n), entries.row(n));
    return comparison.finish();
}

}  // namespace jet
