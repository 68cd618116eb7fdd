#pragma once
// Page claims and usage maps as the passes use them.
#include <string>

#include "jet/base/bytes.h"
#include "jet/check/check_passes.h"
#include "jet/format/usage_map.h"

namespace jet {

// Records that `page` belongs to a structure; reports a page another structure already
// holds (MAP_PAGE_SHARED_OWNER). False on conflict or for a page outside the file.
bool claim_page(CheckContext& ctx, uint32_t page, Claim kind, uint32_t owner);

// Reports steps noted earlier (jet/check/check_passes.h) as if they were taken now. A table's
// data pages are those its data claims win, so `claimant` gets them back in order.
void replay(CheckContext& ctx, const std::vector<CheckEvent>& events, CheckedTable* claimant = nullptr);

// "una página de datos de la tabla X", "una página de índice ...": what a page says it is.
std::string describe_page(const CheckContext& ctx, Bytes page);

struct MapCheck {
    UsageMap map;
    std::string fault;  // empty when the map is sound; otherwise what is wrong (Spanish)
    bool usable() const { return map.readable; }  // its in-file pages can still be trusted
};

// Reads the usage map a stored row pointer names, claims its host page (and the map
// pages of a reference map) for `owner`, and says in words what is wrong with it.
MapCheck read_checked_map(CheckContext& ctx, uint32_t row_pointer, uint32_t owner);

// The global map (page 1, row 0) as read, its map pages (when it is a reference map)
// claimed as the global map's.
UsageMap read_global_map(CheckContext& ctx);

}  // namespace jet
