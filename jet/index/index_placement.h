#pragma once
// Where the pages of a rebuilt index go: its own old pages first, then pages the global
// map flags free, then new pages appended to the file. An inline owned map names only a
// window of pages; when that order does not fit one window, the window holding the most
// reusable pages is taken, and only when no window can hold them all does the map have
// to become a reference map.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace jet {

struct PagePools {
    std::vector<uint32_t> old;   // the index's own pages, in tree order
    std::vector<uint32_t> free;  // reusable pages the global map flags free, ascending
    uint32_t append_from = 0;    // the file's page count: the first new page
    uint32_t append_limit = 0;   // the first page the global map cannot name
};

struct Placement {
    std::vector<uint32_t> pages;  // in the order taken; fewer than asked when the pools run out
    size_t reused = 0;
    size_t from_free = 0;
    size_t appended = 0;
};

// The first `needed` pages of old, then free, then appended, keeping only pages `fits`
// accepts (all of them without it).
Placement place_pages(const PagePools& pools, size_t needed, const std::function<bool(uint32_t)>& fits = {});

// Start (a multiple of 8) of a window of `window` pages that can hold `needed` pages:
// the one with the most old pages, then the most free pages, then the lowest start.
std::optional<uint32_t> best_window(const PagePools& pools, size_t needed, uint32_t window);

}  // namespace jet
