#include "jet/format/data_page_insert.h"

#include "jet/format/data_page.h"
#include "jet/format/fix_data_page.h"

namespace jet {

namespace {
constexpr uint16_t kMaxRowsPerPage = 255;  // the row byte of a row pointer
}

std::optional<uint16_t> add_row_to_page(std::vector<uint8_t>& page, const Layout& layout, Bytes row) {
    const DataPage view(page, layout);
    if (!view.is_data_page() || row.empty()) return std::nullopt;
    const uint16_t count = view.stored_row_count();
    if (count >= kMaxRowsPerPage || count != view.row_count()) return std::nullopt;
    // A row ends where the row of the slot before it starts, so the new row goes right
    // below the last slot's row, which must be the lowest on the page.
    const size_t lowest = count == 0 ? layout.page_size : view.slot(count - 1).start;
    for (const RowSlot& s : view.slots())
        if (!s.bounds_ok || s.start < lowest) return std::nullopt;
    const size_t slot_end = layout.data_header_size + 2 * (size_t(count) + 1);
    if (lowest < slot_end || lowest - slot_end < row.size()) return std::nullopt;
    const size_t start = lowest - row.size();
    std::copy(row.begin(), row.end(), page.begin() + start);
    const size_t slot_at = layout.data_header_size + 2 * size_t(count);
    page[slot_at] = uint8_t(start);
    page[slot_at + 1] = uint8_t(start >> 8);
    page[layout.data_row_count] = uint8_t(count + 1);
    page[layout.data_row_count + 1] = uint8_t((count + 1) >> 8);
    set_free_space(page, layout);
    return count;
}

}  // namespace jet
