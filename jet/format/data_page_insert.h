#pragma once
// Adding a row to a data page held in memory, as Access does: the row goes right below
// the lowest row already there, a new slot at the end of the slot table, and the
// free-space figure follows.
#include <cstdint>
#include <optional>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/format.h"

namespace jet {

// The new row's slot; nothing, leaving the page as it was, when the page is not a sound
// data page (slots out of bounds), already holds 255 rows or has no room for the row.
std::optional<uint16_t> add_row_to_page(std::vector<uint8_t>& page, const Layout& layout, Bytes row);

}  // namespace jet
