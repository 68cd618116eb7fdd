// Row-offset table rebuilding for one data page (see fix_data_page.h).
#include "jet/format/fix_data_page.h"

#include <algorithm>
#include <functional>

#include "jet/format/data_page.h"

namespace jet {

namespace {

constexpr uint16_t kFlagsMask = static_cast<uint16_t>(~kRowOffsetMask);
constexpr uint16_t kDeletedSlot = kRowDeleted | kRowOverflow;  // 0xC000, how Access marks deletions
constexpr size_t kAlternativeTries = 4;

// Slots whose offsets can be trusted: the longest run (in slot order) of in-range offsets
// that never increase, as rows are stacked from the end of the page towards the header.
// One wild offset therefore costs only its own slot, not every slot after it.
std::vector<bool> trusted_offsets(const std::vector<uint16_t>& starts, size_t table_end, size_t page_size) {
    const size_t n = starts.size();
    std::vector<int> best(n, 0), prev(n, -1);
    int top = -1;
    for (size_t i = 0; i < n; ++i) {
        if (starts[i] < table_end || starts[i] > page_size) continue;
        best[i] = 1;
        for (size_t j = 0; j < i; ++j) {
            if (best[j] == 0 || starts[j] < starts[i]) continue;
            if (best[j] + 1 > best[i]) {
                best[i] = best[j] + 1;
                prev[i] = static_cast<int>(j);
            }
        }
        if (top < 0 || best[i] > best[top]) top = static_cast<int>(i);
    }
    std::vector<bool> trusted(n, false);
    for (int i = top; i >= 0; i = prev[i]) trusted[i] = true;
    return trusted;
}

bool live(uint16_t raw) { return (raw & kFlagsMask) == 0; }

}  // namespace

bool DataPagePlan::changes_slots() const {
    return std::any_of(slots.begin(), slots.end(), [](const SlotPlan& s) { return s.fate != SlotFate::Kept; });
}

namespace {

// The plan that keeps the rows at the `trusted` offsets and recovers what it can of the rest.
DataPagePlan plan_with(Bytes page, const Layout& layout, const RowSoundness& sound, const RowSoundness& exact,
                       bool framed_from_end, const std::vector<bool>& trusted) {
    DataPagePlan plan;
    const DataPage view(page, layout);
    const uint16_t n = static_cast<uint16_t>(trusted.size());
    plan.row_count = n;
    const size_t table_end = layout.data_header_size + 2 * size_t(n);
    std::vector<uint16_t> raws(n), starts(n);
    for (uint16_t i = 0; i < n; ++i) {
        raws[i] = u16_at(page, layout.data_header_size + 2 * size_t(i));
        starts[i] = raws[i] & kRowOffsetMask;
    }

    plan.slots.resize(n);
    // The shortest span from `from` (below `limit`) that decodes as a row; 0 when none does.
    auto row_end = [&](uint16_t from, uint16_t limit) -> uint16_t {
        for (uint16_t e = from + 1; e <= limit; ++e)
            if (exact(page.subspan(from, e - from))) return e;
        return 0;
    };
    // Where the rows of `count` slots stacked in [low, high) start, the first (highest) first,
    // when every one of them decodes there; empty when they do not. A row with variable
    // columns is framed from its end, where its trailer pins its length, so the search runs
    // down from `high`; a row of fixed columns only is framed from its start, where its
    // column count says how long it is, so the search runs up from `low`. Either way the
    // shortest row that lets the rest frame is taken (a bounded search).
    auto frame_gap = [&](uint16_t low, uint16_t high, size_t count) {
        std::vector<uint16_t> starts(count);
        size_t budget = 4 * size_t(layout.page_size);
        // Down: row k ends at `end`; up: row k (counted from the lowest) starts at `from`.
        std::function<bool(size_t, uint16_t)> down = [&](size_t k, uint16_t end) {
            if (k + 1 == count) {
                starts[k] = low;
                return low < end && exact(page.subspan(low, end - low));
            }
            for (uint16_t at = end - 1; at > low && budget > 0; --at, --budget)
                if (exact(page.subspan(at, end - at)) && down(k + 1, at)) {
                    starts[k] = at;
                    return true;
                }
            return false;
        };
        std::function<bool(size_t, uint16_t)> up = [&](size_t k, uint16_t from) {
            starts[count - 1 - k] = from;
            if (k + 1 == count) return from < high && exact(page.subspan(from, high - from));
            for (uint16_t e = from + 1; e < high && budget > 0; ++e, --budget)
                if (exact(page.subspan(from, e - from)) && up(k + 1, e)) return true;
            return false;
        };
        const bool framed = count > 0 && low < high && (framed_from_end ? down(0, high) : up(0, low));
        if (!framed) starts.clear();
        return starts;
    };
    auto recover = [&](uint16_t high, const std::vector<uint16_t>& lost, const std::vector<uint16_t>& starts) {
        for (size_t k = 0; k < lost.size(); ++k) {
            const uint16_t end = k == 0 ? high : starts[k - 1];
            plan.slots[lost[k]] = {starts[k], starts[k], end, SlotFate::Recovered, true};
        }
    };
    auto fill_gap = [&](uint16_t low, uint16_t high, const std::vector<uint16_t>& lost) {
        const std::vector<uint16_t> starts = frame_gap(low, high, lost.size());
        if (!starts.empty()) recover(high, lost, starts);
        return !starts.empty();
    };
    uint16_t upper = static_cast<uint16_t>(layout.page_size);  // end of the next row down
    std::vector<uint16_t> pending;                              // untrusted slots above it
    auto lose_pending = [&](uint16_t at) {
        for (uint16_t j : pending) plan.slots[j] = {static_cast<uint16_t>(kDeletedSlot | at), at, at, SlotFate::Lost, live(raws[j])};
        pending.clear();
    };
    for (uint16_t i = 0; i < n; ++i) {
        if (!trusted[i]) {
            pending.push_back(i);
            continue;
        }
        const uint16_t start = starts[i];
        SlotPlan& slot = plan.slots[i];
        slot = {raws[i], start, upper, SlotFate::Kept, live(raws[i])};
        if (!live(raws[i])) {
            // A deleted row holds no bytes (Access reclaims them), so what lies above it
            // belonged to the lost slots.
            const bool deleted = (raws[i] & kDeletedSlot) == kDeletedSlot;
            if (deleted && !pending.empty() && fill_gap(start, upper, pending)) {
                pending.clear();
                slot.end = start;
            }
            lose_pending(upper);
        } else if (pending.empty()) {
            if (!sound(page.subspan(start, upper - start)))
                slot = {static_cast<uint16_t>(kDeletedSlot | start), start, upper, SlotFate::Dropped, true};
        } else {
            // The lost slots above this row held the bytes between its real end and the
            // next trusted row. Splitting is tried first: a row with another row's bytes
            // after it can still frame, since the trailer is read from the end.
            const std::vector<uint16_t> framed = frame_gap(start, upper, pending.size() + 1);
            const uint16_t split = framed.empty() ? 0 : framed[pending.size() - 1];
            const uint16_t end = split ? split : row_end(start, upper - 1);
            if (split != 0) {
                slot.end = split;
                recover(upper, pending, framed);
                pending.clear();
            } else if (end != 0 && sound(page.subspan(end, upper - end))) {
                // This row ends where Access would end it and what follows still reads as a
                // row (one laid out otherwise, e.g. with slack before its offset table): that
                // is the lowest lost slot's row, not a tail of this one.
                slot.end = end;
                const uint16_t above = pending.back();
                pending.pop_back();
                lose_pending(upper);
                plan.slots[above] = {end, end, upper, SlotFate::Recovered, true};
            } else if (sound(page.subspan(start, upper - start))) {
                lose_pending(upper);
            } else if (end != 0) {
                slot.end = end;
                const uint16_t above = pending.back();
                pending.pop_back();
                lose_pending(upper);
                plan.slots[above] = {static_cast<uint16_t>(kDeletedSlot | end), end, upper, SlotFate::Dropped, true};
            } else {
                slot = {static_cast<uint16_t>(kDeletedSlot | start), start, upper, SlotFate::Dropped, true};
                lose_pending(upper);
            }
        }
        upper = start;
    }
    // Untrusted slots below every trusted row: Access keeps rows packed against the end of
    // the page, so the free-space figure says where the lowest row starts.
    const size_t lowest = table_end + view.free_space();
    if (!pending.empty() && lowest < upper && fill_gap(static_cast<uint16_t>(lowest), upper, pending)) pending.clear();
    lose_pending(upper);
    return plan;
}

size_t live_rows(const DataPagePlan& plan) {
    return size_t(std::count_if(plan.slots.begin(), plan.slots.end(), [](const SlotPlan& s) {
        return s.fate == SlotFate::Recovered || (s.fate == SlotFate::Kept && s.was_live && live(s.raw));
    }));
}

}  // namespace

DataPagePlan plan_data_page(Bytes page, const Layout& layout, const RowSoundness& sound, const RowSoundness& exact,
                            bool framed_from_end) {
    const DataPage view(page, layout);
    const uint16_t n = std::min<uint16_t>(view.row_count(), 255);
    std::vector<uint16_t> starts(n);
    for (uint16_t i = 0; i < n; ++i) starts[i] = u16_at(page, layout.data_header_size + 2 * size_t(i)) & kRowOffsetMask;
    std::vector<bool> trusted = trusted_offsets(starts, layout.data_header_size + 2 * size_t(n), layout.page_size);
    DataPagePlan plan = plan_with(page, layout, sound, exact, framed_from_end, trusted);
    auto raws_at = [&](int i) { return u16_at(page, layout.data_header_size + 2 * size_t(i)); };
    // An offset moved down into the row below still sorts among the others, but leaves that
    // row too short to decode, and its own span (the rest of that row and all of its own)
    // frames a wrong row or none. When distrusting the offset above a dropped row saves more
    // rows (the dropped one and the one recovered at its true place), that offset was wrong.
    // A few tries only: a page of garbage drops most rows, and each try plans the page again.
    size_t tries = 0;
    for (bool better = true; better;) {
        better = false;
        for (uint16_t i = 0; i < n && !better && tries < kAlternativeTries; ++i) {
            if (plan.slots[i].fate != SlotFate::Dropped || !trusted[i]) continue;
            int above = i - 1;
            while (above >= 0 && !trusted[above]) --above;
            if (above < 0 || !plan.slots[above].was_live || !live(raws_at(above))) continue;
            ++tries;
            std::vector<bool> other = trusted;
            other[above] = false;
            DataPagePlan alternative = plan_with(page, layout, sound, exact, framed_from_end, other);
            if (live_rows(alternative) > live_rows(plan)) {
                plan = std::move(alternative);
                trusted = std::move(other);
                better = true;
            }
        }
    }
    return plan;
}

void apply_data_page_plan(std::vector<uint8_t>& page, const Layout& layout, const DataPagePlan& plan) {
    put_u16(page, layout.data_row_count, plan.row_count);
    for (size_t i = 0; i < plan.slots.size(); ++i) put_u16(page, layout.data_header_size + 2 * i, plan.slots[i].raw);
    set_free_space(page, layout);
}

uint16_t derived_free_space(Bytes page, const Layout& layout) {
    return static_cast<uint16_t>(std::max<int64_t>(DataPage(page, layout).real_free_space(), 0));
}

bool set_free_space(std::vector<uint8_t>& page, const Layout& layout) {
    const uint16_t free = derived_free_space(page, layout);
    if (u16_at(page, 2) == free) return false;
    put_u16(page, 2, free);
    return true;
}

std::vector<uint8_t> empty_data_page(const Layout& layout, uint32_t tdef_page) {
    std::vector<uint8_t> page(layout.page_size, 0);
    page[0] = page_type::data;
    page[1] = 0x01;
    put_u32(page, 4, tdef_page);
    set_free_space(page, layout);
    return page;
}

}  // namespace jet
