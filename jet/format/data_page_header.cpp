#include "jet/format/data_page_header.h"

#include "jet/format/table_def.h"

#include <algorithm>

#include "jet/format/data_page.h"

namespace jet {

bool rows_can_be_framed(const TableDef& table) { return table.num_var_cols > 0; }

bool data_page_header_lost(Bytes page) {
    if (page.size() <= kDiskSector) return false;
    const auto first = page.subspan(0, kDiskSector);
    const auto rest = page.subspan(kDiskSector);
    return std::all_of(first.begin(), first.end(), [](uint8_t b) { return b == 0; }) &&
           std::any_of(rest.begin(), rest.end(), [](uint8_t b) { return b != 0; });
}

FramedRows frame_rows_from_end(Bytes page, const Layout& layout, const RowSoundness& exact,
                               const RowSoundness& moved) {
    constexpr uint16_t kPointer = 4;
    FramedRows out;
    uint16_t end = static_cast<uint16_t>(layout.page_size);
    // A row starting in the zeroed sector lost its head; the offset table needs room too.
    auto floor = [&] {
        return std::max<size_t>(kDiskSector, layout.data_header_size + 2 * (out.slots.size() + 1));
    };
    while (out.slots.size() < 255 && end > floor()) {
        if (end >= floor() + kPointer && moved(page.subspan(end - kPointer, kPointer))) {
            end -= kPointer;
            out.slots.push_back(static_cast<uint16_t>(kRowOverflow | end));
            continue;
        }
        // The shortest span ending here that is a whole row: a row's trailer fixes where it starts.
        uint16_t start = 0;
        for (uint16_t at = end - 1; at >= floor() && at < end; --at)
            if (exact(page.subspan(at, end - at))) {
                start = at;
                break;
            }
        if (start == 0) break;
        out.slots.push_back(start);
        end = start;
    }
    out.lowest = end;
    // Bytes left below the lowest row belong to a row cut by the zeros.
    uint16_t from = end;
    for (uint16_t at = static_cast<uint16_t>(kDiskSector); at < end; ++at)
        if (page[at] != 0) {
            from = at;
            break;
        }
    out.leftover = from;
    return out;
}

std::vector<size_t> zeroed_row_sectors(Bytes page, const Layout& layout) {
    std::vector<size_t> out;
    const DataPage view(page, layout);
    if (!view.is_data_page()) return out;
    const std::vector<RowSlot> slots = view.slots();
    for (size_t at = kDiskSector; at + kDiskSector <= page.size(); at += kDiskSector) {
        const auto sector = page.subspan(at, kDiskSector);
        if (std::any_of(sector.begin(), sector.end(), [](uint8_t b) { return b != 0; })) continue;
        const bool row_starts = std::any_of(slots.begin(), slots.end(), [&](const RowSlot& s) {
            return s.bounds_ok && !s.deleted() && s.length() > 0 && s.start >= at && s.start < at + kDiskSector;
        });
        if (row_starts) out.push_back(at);
    }
    return out;
}

bool crosses_sector(const std::vector<size_t>& sectors, size_t start, size_t end) {
    return std::any_of(sectors.begin(), sectors.end(),
                       [&](size_t at) { return start < at + kDiskSector && end > at; });
}

void rebuild_data_page_header(std::vector<uint8_t>& page, const Layout& layout, uint32_t owner,
                              const FramedRows& rows) {
    auto put16 = [&](size_t at, uint16_t v) {
        page[at] = static_cast<uint8_t>(v);
        page[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::fill(page.begin(), page.begin() + std::min(page.size(), kDiskSector), uint8_t{0});
    page[0] = page_type::data;
    page[1] = 0x01;
    for (int i = 0; i < 4; ++i) page[4 + i] = static_cast<uint8_t>(owner >> (8 * i));
    put16(layout.data_row_count, static_cast<uint16_t>(rows.slots.size()));
    for (size_t i = 0; i < rows.slots.size(); ++i) put16(layout.data_header_size + 2 * i, rows.slots[i]);
    set_free_space(page, layout);
}

}  // namespace jet
