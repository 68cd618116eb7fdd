#pragma once
// Usage maps: page bitmaps stored in a row, inline (type 0) or through map pages
// (type 1). Reading is bounded by the file; faults describe the map's structure.
#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/fault.h"
#include "jet/base/format.h"

namespace jet {

class PageFile;

struct PageSpan {
    uint32_t first = 0;
    uint32_t end = 0;  // one past the last page
};

struct UsageMap {
    bool readable = false;     // the map row was found and its type is known
    uint8_t type = 0xFF;
    uint32_t start_page = 0;   // inline maps
    uint64_t window_end = 0;   // inline maps: one past the last page the bitmap covers
    std::vector<uint32_t> pages;  // set bits inside the file, ascending
    uint32_t pages_past_end = 0;  // set bits naming pages past the end of the file
    // Reference maps: pages of the file whose slot holds no map page (or names a page that
    // is none: a fault too), so no bit of theirs is kept. Slots that only name pages past the
    // end of the file are not read at all.
    std::vector<PageSpan> unrecorded;
    Faults faults;

    // Whether the map keeps a bit for the page. An inline map keeps none outside its window:
    // Jackcess moves the window forward as the file grows and the pages it leaves behind are
    // in use, so such a page is neither free nor used as far as the map says.
    bool records(uint32_t page) const;
};

// Pages one map page of a reference map names: its bitmap runs from byte 4 to the page end,
// and slot j covers the pages from j times this number.
uint64_t pages_per_map_page(const Layout& layout);

// The map stored in the row a row pointer (as stored: row byte + 24-bit page) names.
UsageMap read_usage_map(const PageFile& file, const Layout& layout, uint32_t row_pointer);

// The map in a row already located; reference maps read their map pages from file.
UsageMap parse_usage_map(Bytes row, const PageFile& file, const Layout& layout);

}  // namespace jet
