#include "jet/index_check.h"

#include <algorithm>

namespace jet {
namespace {

uint32_t packed(RowPointer p) { return (p.page << 8) | p.row; }

std::string row_text(RowPointer p) {
    return "fila " + std::to_string(p.row) + " de la página " + std::to_string(p.page);
}

}  // namespace

IndexDataResult compare_index_with_rows(const std::vector<IndexEntry>& entries,
                                        std::vector<KeyedRow> rows, uint8_t index_flags) {
    IndexDataResult out;
    auto by_row = [](const KeyedRow& a, const KeyedRow& b) { return packed(a.row) < packed(b.row); };
    // A table scan yields its rows in this order already.
    if (!std::is_sorted(rows.begin(), rows.end(), by_row)) std::sort(rows.begin(), rows.end(), by_row);
    // Searched apart from the rows: a dense array of row pointers stays in the cache.
    std::vector<uint32_t> pointers(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) pointers[i] = packed(rows[i].row);
    std::vector<uint8_t> seen(rows.size(), 0);
    auto find_row = [&](RowPointer p) -> ptrdiff_t {
        auto it = std::lower_bound(pointers.begin(), pointers.end(), packed(p));
        if (it == pointers.end() || *it != packed(p)) return -1;
        return it - pointers.begin();
    };

    const IndexEntry* previous = nullptr;
    bool previous_all_null = true;
    for (const IndexEntry& e : entries) {
        ++out.entries_checked;
        ptrdiff_t at = find_row(e.row);
        bool all_null = true;
        if (at < 0) {
            out.issues.push_back({IndexDataIssueKind::EntryForNoRow, e.row,
                                  "una entrada apunta a la " + row_text(e.row) +
                                      ", que no es una fila viva de la tabla"});
        } else {
            const KeyedRow& r = rows[static_cast<size_t>(at)];
            all_null = r.all_null;
            if (seen[static_cast<size_t>(at)]++)
                out.issues.push_back({IndexDataIssueKind::DuplicateEntry, e.row,
                                      "la " + row_text(e.row) + " tiene más de una entrada"});
            else if (r.key != e.key)
                out.issues.push_back({IndexDataIssueKind::KeyMismatch, e.row,
                                      "la entrada de la " + row_text(e.row) +
                                          " no corresponde a los valores de la fila"});
            else
                ++out.keys_identical;
        }
        // Entries are sorted, so equal keys are neighbours; all-NULL keys never conflict.
        if ((index_flags & index_flag::unique) && previous && previous->key == e.key &&
            !all_null && !previous_all_null)
            out.issues.push_back({IndexDataIssueKind::UniqueViolation, e.row,
                                  "el índice único repite el valor de la " + row_text(previous->row) +
                                      " en la " + row_text(e.row)});
        previous = &e;
        previous_all_null = all_null;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (seen[i]) continue;
        if ((index_flags & index_flag::ignore_nulls) && rows[i].all_null) continue;
        out.issues.push_back({IndexDataIssueKind::MissingEntry, rows[i].row,
                              "la " + row_text(rows[i].row) + " no tiene entrada en el índice"});
    }
    return out;
}

}  // namespace jet
