// PAGE_TYPE_UNKNOWN: a page no structure claims, not free in the global map, holding
// bytes of no known page type (garbage written over it). Its bytes go to the recovery
// file and the page is emptied: an all-zero page is what a never-used page looks like,
// so Access and the check leave it alone.
#include <algorithm>

#include "jet/check/check.h"
#include "jet/repair/repair.h"

namespace jet {
namespace {

bool known_type(const std::vector<uint8_t>& page) {
    if (page[0] == page_type::header) return true;
    if (page[1] != 0x01) return false;
    return page[0] <= page_type::usage_map || page[0] == 0x08 || page[0] == 0x09;
}

}  // namespace

void fix_unknown_pages(FixContext& context, std::span<const Finding> findings) {
    for (const Finding& f : findings) {
        const std::optional<uint32_t> number = f.location.page;
        if (!number || *number < 3 || *number >= context.page_count()) continue;
        std::vector<uint8_t> page = context.read_page(*number);
        if (known_type(page)) continue;
        RecoveredItem item;
        item.page = *number;
        item.reason = "página de tipo desconocido que no pertenece a ninguna estructura; se deja vacía";
        item.raw = page;
        context.save_dropped(item);
        std::fill(page.begin(), page.end(), 0);
        context.write_page(*number, page);
    }
}

}  // namespace jet
