#pragma once
// A view of a data page (table rows, long values, usage-map rows): header fields, the
// row-offset table and the bounds of every row. Nothing here throws; inconsistencies
// come back as faults.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/fault.h"
#include "jet/base/format.h"

namespace jet {

struct RowSlot {
    uint16_t raw = 0;    // slot value with flags
    uint16_t start = 0;  // offset in the page
    uint16_t end = 0;    // one past the last byte (start of the previous slot, or page end)
    bool deleted() const { return raw & kRowDeleted; }
    bool overflow() const { return raw & kRowOverflow; }
    bool bounds_ok = false;  // start <= end, both inside the row area of the page
    uint16_t length() const { return bounds_ok ? static_cast<uint16_t>(end - start) : 0; }
};

class DataPage {
public:
    DataPage(Bytes page, const Layout& layout) : page_(page), layout_(&layout) {}

    bool is_data_page() const { return page_.size() == layout_->page_size && u8_at(page_, 0) == page_type::data; }
    uint16_t free_space() const { return u16_at(page_, 2); }
    // What the header, the slot table and the rows leave of the page: the free space Access
    // records for them; negative when they overfill the page.
    int64_t real_free_space() const;
    uint32_t owner() const { return u32_at(page_, 4); }
    bool is_lval() const { return owner() == 0x4C41564C; }  // "LVAL"
    // Stored row count, clamped so the slot table stays inside the page.
    uint16_t row_count() const;
    uint16_t stored_row_count() const { return u16_at(page_, layout_->data_row_count); }

    RowSlot slot(uint16_t index) const;
    std::vector<RowSlot> slots() const;
    // Bytes of a row, empty when its slot is missing or its bounds are bad.
    Bytes row(uint16_t index) const;

    Bytes bytes() const { return page_; }
    const Layout& layout() const { return *layout_; }

private:
    Bytes page_;
    const Layout* layout_;
};

// Row count, slot order, row bounds and the free-space field. Flags each fault once
// with the given page number; the table name is filled in by the caller when known.
Faults validate_data_page(const DataPage& page, uint32_t page_number);

// Largest row count whose slot table fits the page.
uint16_t max_rows_on_page(const Layout& layout);

}  // namespace jet
