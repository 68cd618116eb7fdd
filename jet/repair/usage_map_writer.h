#pragma once
// Writing usage maps back: a map keeps its row and its length; its bits (and, for an
// inline map, its first page) change. A table's or column's map whose row cannot name every
// page becomes a reference map with new map pages; the global map keeps its type: an inline
// one may grow its row, a reference one gets a map page for every slot the file reaches.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/base/format.h"

namespace jet {

class FixContext;

// Page set of the map a row pointer names, as its bits say (pages inside the file only);
// nothing when the row or its type cannot be read.
std::optional<std::vector<uint32_t>> read_map_pages(const FixContext& context, const Layout& layout,
                                                    uint32_t row_pointer);

// Rewrites the map at `row_pointer` to list exactly `pages` (ascending), growing it into a
// reference map when it must. False, writing nothing, when the row cannot be read or the
// pages lie beyond what even a reference map in that row can name.
bool write_map_pages(FixContext& context, const Layout& layout, uint32_t row_pointer,
                     std::span<const uint32_t> pages);

// The global map (page 1, row 0; a set bit means free). `free_in_file[p]` is the wanted
// bit of every page inside the file; bits past the end of the file become 1 (free), as
// Access leaves them. An unreadable map row becomes an inline map starting at page 0 when
// its length allows; a reference map appends the map pages it lacks (their own bits clear).
// False, writing nothing, when the wanted bits do not fit.
// `claimed`: pages another structure uses (a table's or an index's map pages among them): a
// reference map's slot naming one of them is stale (the file was cut and that number taken
// again) and gets a new map page.
bool write_global_map(FixContext& context, const Layout& layout, const std::vector<bool>& free_in_file,
                      const std::vector<bool>& claimed = {});

// Inline bitmap bytes (without the 5-byte head) for `pages` starting at `start`; nothing
// when a page falls outside [start, start + 8 * bitmap_bytes).
std::optional<std::vector<uint8_t>> inline_bitmap(std::span<const uint32_t> pages, uint32_t start,
                                                  std::size_t bitmap_bytes);

// The first page an inline map of `bitmap_bytes` should start at to hold `pages`: the
// current start when it already fits, else the lowest page rounded down to a multiple of 8
// (as Access moves the window). Nothing when the pages span more than the map covers.
std::optional<uint32_t> inline_start(std::span<const uint32_t> pages, uint32_t current, std::size_t bitmap_bytes);

}  // namespace jet
