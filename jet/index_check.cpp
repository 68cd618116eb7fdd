#include "jet/index_check.h"

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

// Entries whose key differs from their row's (`ours`, at their position in tree order)
// that sort outside the agreeing entries around them.
void mark_misplaced(const TreeEntries& entries, const std::vector<std::optional<size_t>>& differs,
                    const std::vector<bool>& agrees, const KeyedRows& rows, std::vector<bool>& misplaced) {
    auto before = [](std::span<const uint8_t> a, std::span<const uint8_t> b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    };
    std::optional<size_t> low;
    for (size_t n = 0; n < entries.size(); ++n) {
        if (agrees[n]) low = n;
        else if (differs[n] && low && before(rows.key(*differs[n]), entries.key(*low))) misplaced[n] = true;
    }
    std::optional<size_t> high;
    for (size_t n = entries.size(); n-- > 0;) {
        if (agrees[n]) high = n;
        else if (differs[n] && high && before(entries.key(*high), rows.key(*differs[n]))) misplaced[n] = true;
    }
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

IndexDataResult compare_index_with_rows(const TreeEntries& entries, KeyedRows& rows,
                                        uint8_t index_flags) {
    IndexDataResult out;
    rows.sort_by_row();
    // Rows by page: the rows of page p are pointers[first[p - low] .. first[p - low + 1]),
    // in row order, so an entry's row is found without a search over the whole table.
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
    auto same_key = [](std::span<const uint8_t> a, std::span<const uint8_t> b) {
        return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
    };

    std::vector<std::optional<size_t>> differs(entries.size());  // the row of an entry whose key differs
    std::vector<bool> agrees(entries.size(), false);
    std::optional<KeyEntry> previous;
    bool previous_all_null = true;
    for (size_t n = 0; n < entries.size(); ++n) {
        const KeyEntry e = entries[n];
        ++out.entries_checked;
        ptrdiff_t at = find_row(e.row);
        bool all_null = true;
        if (at < 0) {
            out.issues.push_back({IndexDataIssueKind::EntryForNoRow, e.row,
                                  "una entrada apunta a la " + row_text(e.row) +
                                      ", que no es una fila viva de la tabla"});
        } else {
            const size_t i = static_cast<size_t>(at);
            all_null = rows.all_null(i);
            if (seen[i]++)
                out.issues.push_back({IndexDataIssueKind::DuplicateEntry, e.row,
                                      "la " + row_text(e.row) + " tiene más de una entrada"});
            else if (!same_key(rows.key(i), e.key))
                differs[n] = i;
            else
                agrees[n] = true;
        }
        // Entries are sorted, so equal keys are neighbours; all-NULL keys never conflict.
        if ((index_flags & index_flag::unique) && previous && same_key(previous->key, e.key) &&
            !all_null && !previous_all_null)
            out.issues.push_back({IndexDataIssueKind::UniqueViolation, e.row,
                                  "el índice único repite el valor de la " + row_text(previous->row) +
                                      " en la " + row_text(e.row)});
        previous = e;
        previous_all_null = all_null;
    }
    std::vector<bool> misplaced(entries.size(), false);
    mark_misplaced(entries, differs, agrees, rows, misplaced);
    for (size_t n = 0; n < entries.size(); ++n) {
        if (agrees[n]) ++out.keys_identical;
        if (!differs[n]) continue;
        const RowPointer row = entries.row(n);
        if (misplaced[n] || !differs_in_text_only(entries.key(n), rows.key(*differs[n]), rows.text(*differs[n])))
            out.issues.push_back({IndexDataIssueKind::KeyWrong, row,
                                  "la entrada de la " + row_text(row) + " no corresponde a los valores de la fila"});
        else
            out.issues.push_back({IndexDataIssueKind::KeyMismatch, row,
                                  "la clave de la entrada de la " + row_text(row) +
                                      " no es la que se calcula para la fila, aunque la entrada está en su "
                                      "lugar y apunta a ella"});
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (seen[i]) continue;
        if ((index_flags & index_flag::ignore_nulls) && rows.all_null(i)) continue;
        out.issues.push_back({IndexDataIssueKind::MissingEntry, rows.row(i),
                              "la " + row_text(rows.row(i)) + " no tiene entrada en el índice"});
    }
    return out;
}

}  // namespace jet
