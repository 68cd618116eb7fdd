#include "jet/index/index_placement.h"

#include <algorithm>
#include <tuple>

namespace jet {

Placement place_pages(const PagePools& pools, size_t needed, const std::function<bool(uint32_t)>& fits) {
    Placement out;
    auto ok = [&](uint32_t p) { return !fits || fits(p); };
    for (uint32_t p : pools.old) {
        if (out.pages.size() == needed) return out;
        if (!ok(p)) continue;
        out.pages.push_back(p);
        ++out.reused;
    }
    for (uint32_t p : pools.free) {
        if (out.pages.size() == needed) return out;
        if (!ok(p)) continue;
        out.pages.push_back(p);
        ++out.from_free;
    }
    // New pages follow the end of the file without gaps: a window that does not take the
    // first one takes none.
    for (uint32_t p = pools.append_from; p < pools.append_limit && out.pages.size() < needed && ok(p); ++p) {
        out.pages.push_back(p);
        ++out.appended;
    }
    return out;
}

std::optional<uint32_t> best_window(const PagePools& pools, size_t needed, uint32_t window) {
    if (window == 0) return std::nullopt;
    std::vector<uint32_t> starts;
    for (uint32_t p : pools.old) starts.push_back(p - p % 8);
    for (uint32_t p : pools.free) starts.push_back(p - p % 8);
    if (pools.append_from < pools.append_limit) starts.push_back(pools.append_from - pools.append_from % 8);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());

    std::optional<uint32_t> best;
    std::tuple<size_t, size_t> best_score{};
    for (uint32_t s : starts) {
        const uint64_t end = uint64_t(s) + window;
        auto inside = [&](uint32_t p) { return p >= s && p < end; };
        const size_t old = static_cast<size_t>(std::count_if(pools.old.begin(), pools.old.end(), inside));
        const size_t free = static_cast<size_t>(std::lower_bound(pools.free.begin(), pools.free.end(), end) -
                                                std::lower_bound(pools.free.begin(), pools.free.end(), s));
        // New pages start at the end of the file, so the window must reach it.
        size_t appended = 0;
        if (inside(pools.append_from))
            appended = static_cast<size_t>(std::min<uint64_t>(end, pools.append_limit) - pools.append_from);
        if (old + free + appended < needed) continue;
        const std::tuple<size_t, size_t> score{std::min(old, needed), std::min(free, needed - std::min(old, needed))};
        if (!best || score > best_score) {
            best = s;
            best_score = score;
        }
    }
    return best;
}

}  // namespace jet
