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

}  // namespace

void KeyedRows::add(RowPointer row, std::span<const uint8_t> key, bool all_null) {
    if (bytes_.size() + key.size() > UINT32_MAX) throw std::length_error("index keys exceed 4 GiB");
    rows_.push_back({row, static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(key.size()), all_null});
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
                out.issues.push_back({IndexDataIssueKind::KeyMismatch, e.row,
                                      "la entrada de la " + row_text(e.row) +
                                          " no corresponde a los valores de la fila"});
            else
                ++out.keys_identical;
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
    for (size_t i = 0; i < rows.size(); ++i) {
        if (seen[i]) continue;
        if ((index_flags & index_flag::ignore_nulls) && rows.all_null(i)) continue;
        out.issues.push_back({IndexDataIssueKind::MissingEntry, rows.row(i),
                              "la " + row_text(rows.row(i)) + " no tiene entrada en el índice"});
    }
    return out;
}

}  // namespace jet
