#include "jet/format/data_page.h"

#include <string>

namespace jet {

uint16_t max_rows_on_page(const Layout& layout) {
    return static_cast<uint16_t>((layout.page_size - layout.data_header_size) / 2);
}

uint16_t DataPage::row_count() const {
    return std::min(stored_row_count(), max_rows_on_page(*layout_));
}

RowSlot DataPage::slot(uint16_t index) const {
    RowSlot s;
    if (index >= row_count()) return s;
    const size_t slot_table_end = layout_->data_header_size + 2 * size_t(row_count());
    s.raw = u16_at(page_, layout_->data_header_size + 2 * size_t(index));
    s.start = s.raw & kRowOffsetMask;
    s.end = index == 0 ? static_cast<uint16_t>(layout_->page_size)
                       : static_cast<uint16_t>(u16_at(page_, layout_->data_header_size + 2 * size_t(index - 1)) &
                                               kRowOffsetMask);
    s.bounds_ok = s.start >= slot_table_end && s.start <= s.end && s.end <= layout_->page_size &&
                  page_.size() == layout_->page_size;
    return s;
}

std::vector<RowSlot> DataPage::slots() const {
    std::vector<RowSlot> out;
    const uint16_t n = row_count();
    out.reserve(n);
    for (uint16_t i = 0; i < n; ++i) out.push_back(slot(i));
    return out;
}

int64_t DataPage::real_free_space() const {
    int64_t left = int64_t(layout_->page_size) - layout_->data_header_size - 2 * int64_t(row_count());
    for (uint16_t i = 0; i < row_count(); ++i) left -= slot(i).length();
    return left;
}

Bytes DataPage::row(uint16_t index) const {
    RowSlot s = slot(index);
    if (!s.bounds_ok) return {};
    return page_.subspan(s.start, s.end - s.start);
}

Faults validate_data_page(const DataPage& page, uint32_t page_number) {
    Faults faults;
    const Layout& layout = page.layout();
    auto add = [&](FaultKind kind, int row, std::string detail) {
        faults.push_back({kind, page_number, row, {}, std::move(detail)});
    };
    if (!page.is_data_page()) {
        add(FaultKind::PageWrongType, -1, "la página no es una página de datos");
        return faults;
    }
    const uint16_t stored = page.stored_row_count();
    if (stored != page.row_count() || stored > 255) {
        add(FaultKind::DataPageRowCount, -1,
            "el número de filas (" + std::to_string(stored) + ") no cabe en la página");
    }
    const auto slots = page.slots();
    bool bounds_fault = false;
    for (size_t i = 0; i < slots.size(); ++i) {
        const RowSlot& s = slots[i];
        if (!s.bounds_ok) {
            // A start above its end means the slots are out of order; anything else means
            // the row leaves its area.
            if (s.start > s.end && s.end >= layout.data_header_size)
                add(FaultKind::DataPageRowOrder, int(i), "las filas no están en orden dentro de la página");
            else
                add(FaultKind::DataPageRowBounds, int(i), "la fila queda fuera de los límites de la página");
            bounds_fault = true;
        }
    }
    if (!bounds_fault && page.row_count() == stored) {
        const int64_t expected = page.real_free_space();
        if (page.free_space() != expected) {
            add(FaultKind::DataPageFreeSpace, -1,
                "el espacio libre anotado (" + std::to_string(page.free_space()) + ") no coincide con el real (" +
                    std::to_string(expected) + ")");
        }
    }
    return faults;
}

}  // namespace jet
