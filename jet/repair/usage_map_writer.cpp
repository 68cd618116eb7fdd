#include "jet/repair/usage_map_writer.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "jet/base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/fix_data_page.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/repair.h"
#include "jet/format/usage_map.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr uint8_t kInline = 0x00;
constexpr uint8_t kReference = 0x01;
constexpr std::size_t kInlineHead = 5;    // type byte + u32 first page
constexpr std::size_t kMapPageHead = 4;   // 05 01 00 00

// The host page of a map row and where the row lies in it.
struct MapRow {
    uint32_t page = 0;
    std::vector<uint8_t> host;
    std::size_t start = 0;
    std::size_t end = 0;
    std::span<uint8_t> bytes() { return std::span<uint8_t>(host).subspan(start, end - start); }
};

std::optional<MapRow> locate(const FixContext& context, const Layout& layout, uint32_t row_pointer) {
    const RowPointer at = RowPointer::from_u32(row_pointer);
    if (at.page == 0) return std::nullopt;
    MapRow out{at.page, context.read_page(at.page)};
    DataPage page(out.host, layout);
    if (!page.is_data_page() || at.row >= page.row_count()) return std::nullopt;
    const RowSlot slot = page.slot(at.row);
    if (!slot.bounds_ok || slot.deleted() || slot.length() == 0) return std::nullopt;
    out.start = slot.start;
    out.end = slot.end;
    return out;
}

using Wanted = std::function<bool(uint64_t page)>;

// Sets every bit of a bitmap covering pages first.. to wanted(page).
void fill_bits(std::span<uint8_t> bitmap, uint64_t first, const Wanted& wanted) {
    for (std::size_t k = 0; k < bitmap.size(); ++k) {
        uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (wanted(first + 8 * uint64_t(k) + uint64_t(bit))) byte |= static_cast<uint8_t>(1u << bit);
        bitmap[k] = byte;
    }
}

// Rewrites a reference map's type-5 pages. Every page that must be set needs a map page
// already allocated for its range; none is added.
bool write_reference(FixContext& context, MapRow& row, const Wanted& wanted, uint64_t first_needed,
                     uint64_t last_needed, bool any_needed) {
    const uint64_t per_page = uint64_t(context.page_size() - kMapPageHead) * 8;
    const std::size_t slots = (row.end - row.start - 1) / 4;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> writes;
    std::vector<bool> covered(slots, false);
    for (std::size_t j = 0; j < slots; ++j) {
        const uint32_t map_page = u32_at(Bytes(row.bytes()), 1 + 4 * j);
        if (map_page == 0) continue;
        std::vector<uint8_t> page = context.read_page(map_page);
        if (page.empty() || page[0] != page_type::usage_map) continue;
        fill_bits(std::span<uint8_t>(page).subspan(kMapPageHead), j * per_page, wanted);
        covered[j] = true;
        writes.emplace_back(map_page, std::move(page));
    }
    if (any_needed) {
        for (uint64_t j = first_needed / per_page; j <= last_needed / per_page; ++j)
            if (j >= slots || !covered[j]) return false;
    }
    for (auto& [number, page] : writes) context.write_page(number, page);
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> inline_bitmap(std::span<const uint32_t> pages, uint32_t start,
                                                  std::size_t bitmap_bytes) {
    std::vector<uint8_t> bitmap(bitmap_bytes, 0);
    for (uint32_t p : pages) {
        if (p < start || uint64_t(p - start) >= 8 * uint64_t(bitmap_bytes)) return std::nullopt;
        bitmap[(p - start) / 8] |= static_cast<uint8_t>(1u << ((p - start) % 8));
    }
    return bitmap;
}

std::optional<uint32_t> inline_start(std::span<const uint32_t> pages, uint32_t current, std::size_t bitmap_bytes) {
    const uint64_t reach = 8 * uint64_t(bitmap_bytes);
    if (pages.empty()) return current;
    const auto [low, high] = std::minmax_element(pages.begin(), pages.end());
    if (*low >= current && *high - uint64_t(current) < reach) return current;
    const uint32_t start = *low - *low % 8;
    if (*high - uint64_t(start) < reach) return start;
    return std::nullopt;
}

std::optional<std::vector<uint32_t>> read_map_pages(const FixContext& context, const Layout& layout,
                                                    uint32_t row_pointer) {
    auto row = locate(context, layout, row_pointer);
    if (!row) return std::nullopt;
    const Bytes bytes(row->bytes());
    const uint32_t page_count = context.page_count();
    std::vector<uint32_t> pages;
    auto collect = [&](Bytes bitmap, uint64_t first) {
        for (std::size_t k = 0; k < bitmap.size(); ++k)
            for (int bit = 0; bit < 8; ++bit)
                if (bitmap[k] & (1u << bit)) {
                    const uint64_t p = first + 8 * uint64_t(k) + uint64_t(bit);
                    if (p < page_count) pages.push_back(static_cast<uint32_t>(p));
                }
    };
    if (bytes[0] == kInline && bytes.size() >= kInlineHead) {
        collect(bytes.subspan(kInlineHead), u32_at(bytes, 1));
    } else if (bytes[0] == kReference) {
        const uint64_t per_page = uint64_t(layout.page_size - kMapPageHead) * 8;
        for (std::size_t j = 0; 1 + 4 * j + 4 <= bytes.size(); ++j) {
            const uint32_t map_page = u32_at(bytes, 1 + 4 * j);
            if (map_page == 0) continue;
            const std::vector<uint8_t> page = context.read_page(map_page);
            if (page.empty() || page[0] != page_type::usage_map) continue;
            collect(Bytes(page).subspan(kMapPageHead), j * per_page);
        }
    } else {
        return std::nullopt;
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

namespace {

// A map whose row cannot name every page grows instead, as Access grows its own: an inline
// map becomes a reference map in the same row, and each map-page slot the pages need gets a
// new map page at the end of the file (the global map rebuild then marks those used).
bool grow_and_write(FixContext& context, const Layout& layout, uint32_t row_pointer,
                    std::span<const uint32_t> pages) {
    PageStore& store = context;
    std::string why;
    std::optional<UsageMapEdit> map = UsageMapEdit::load(store, layout, row_pointer, why);
    if (!map) return false;
    const std::vector<uint32_t> wanted(pages.begin(), pages.end());
    if (map->is_inline() && !map->make_reference()) return false;
    const auto slots = map->missing_slots(wanted);
    if (!slots) return false;
    for (std::size_t i = 0; i < slots->size(); ++i)
        map->add_map_page((*slots)[i], context.page_count() + static_cast<uint32_t>(i));
    map->clear_all();
    for (uint32_t p : wanted) map->set(p, true);
    map->save(store);
    return true;
}

bool write_in_place(FixContext& context, const Layout& layout, uint32_t row_pointer,
                    std::span<const uint32_t> pages) {
    auto row = locate(context, layout, row_pointer);
    if (!row) return false;
    std::span<uint8_t> bytes = row->bytes();
    if (bytes[0] == kInline && bytes.size() >= kInlineHead) {
        const std::size_t bitmap_bytes = bytes.size() - kInlineHead;
        const auto start = inline_start(pages, u32_at(Bytes(bytes), 1), bitmap_bytes);
        if (!start) return false;
        const auto bitmap = inline_bitmap(pages, *start, bitmap_bytes);
        if (!bitmap) return false;
        put_u32(bytes, 1, *start);
        std::copy(bitmap->begin(), bitmap->end(), bytes.begin() + kInlineHead);
        context.write_page(row->page, row->host);
        return true;
    }
    if (bytes[0] == kReference) {
        const Wanted wanted = [&](uint64_t p) { return std::binary_search(pages.begin(), pages.end(), p); };
        return write_reference(context, *row, wanted, pages.empty() ? 0 : pages.front(),
                               pages.empty() ? 0 : pages.back(), !pages.empty());
    }
    return false;
}

}  // namespace

bool write_map_pages(FixContext& context, const Layout& layout, uint32_t row_pointer,
                     std::span<const uint32_t> pages) {
    return write_in_place(context, layout, row_pointer, pages) || grow_and_write(context, layout, row_pointer, pages);
}

namespace {

// The host page with row `index` resized to `length` bytes (its old bytes kept, the rest
// zero) and every row laid out again from the page end, slot flags kept; nothing when a
// slot is unreadable or the rows no longer fit.
std::optional<std::vector<uint8_t>> with_row_resized(const std::vector<uint8_t>& host, const Layout& layout,
                                                     uint16_t index, std::size_t length) {
    const DataPage page(host, layout);
    const std::size_t slots_at = layout.data_header_size;
    std::vector<std::vector<uint8_t>> rows;
    std::size_t total = 0;
    for (uint16_t i = 0; i < page.row_count(); ++i) {
        const RowSlot slot = page.slot(i);
        if (!slot.bounds_ok) return std::nullopt;
        const Bytes bytes = page.row(i);
        rows.emplace_back(bytes.begin(), bytes.end());
        if (i == index) rows.back().resize(length, 0);
        total += rows.back().size();
    }
    if (slots_at + 2 * rows.size() + total > layout.page_size) return std::nullopt;
    std::vector<uint8_t> out(host.begin(), host.begin() + static_cast<std::ptrdiff_t>(slots_at + 2 * rows.size()));
    out.resize(layout.page_size, 0);
    std::size_t end = layout.page_size;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t start = end - rows[i].size();
        std::copy(rows[i].begin(), rows[i].end(), out.begin() + static_cast<std::ptrdiff_t>(start));
        const uint16_t flags = static_cast<uint16_t>(page.slot(static_cast<uint16_t>(i)).raw & ~kRowOffsetMask);
        const uint16_t raw = static_cast<uint16_t>(start | flags);
        out[slots_at + 2 * i] = static_cast<uint8_t>(raw);
        out[slots_at + 2 * i + 1] = static_cast<uint8_t>(raw >> 8);
        end = start;
    }
    set_free_space(out, layout);
    return out;
}

// Bitmap bytes of an inline global map naming `pages` pages: whole 4-byte words, as Access
// lays out the row when it grows it with the file.
std::size_t global_bitmap_bytes(uint64_t pages) { return static_cast<std::size_t>((pages + 31) / 32 * 4); }

// The global map as a reference map. A slot the file reaches keeps its map page; one that
// names a page that is no map page gets a new one at the end of the file, and so does an
// empty slot after one with a map page (the file grew into it: its pages are to be recorded,
// as Jackcess records them when it first sets a bit there). An empty slot before any map page
// stays empty: the map records nothing there, and nothing here says what it should record
// (testRefGlobalV2000). New map pages may reach a further slot, which then needs one too.
// Map pages are in use; pages past the end are free.
bool write_global_reference(FixContext& context, const Layout& layout, MapRow& row,
                            const std::vector<bool>& free_in_file, const std::vector<bool>& claimed) {
    const uint64_t per_page = pages_per_map_page(layout);
    const std::size_t slots = (row.end - row.start - 1) / 4;
    const uint32_t page_count = static_cast<uint32_t>(free_in_file.size());
    std::vector<uint32_t> map_pages;  // by slot, 0 for a slot left empty
    std::set<uint32_t> in_use;        // the map pages themselves
    uint32_t next = page_count;       // where new map pages go
    for (std::size_t j = 0; j * per_page < next; ++j) {
        if (j >= slots) return false;
        uint32_t number = u32_at(Bytes(row.bytes()), 1 + 4 * j);
        const bool recorded_before = j > 0 && map_pages[j - 1] != 0;
        if (number == 0 && !recorded_before) {
            map_pages.push_back(0);
            continue;
        }
        const std::vector<uint8_t> old = number < page_count ? context.read_page(number) : std::vector<uint8_t>{};
        const bool theirs = number < claimed.size() && claimed[number];
        if (number == 0 || old.empty() || old[0] != page_type::usage_map || in_use.count(number) || theirs)
            number = next++;
        map_pages.push_back(number);
        in_use.insert(number);
    }
    const Wanted wanted = [&](uint64_t p) {
        if (p >= next) return true;
        if (in_use.count(static_cast<uint32_t>(p))) return false;
        return p < page_count && free_in_file[p];
    };
    for (std::size_t j = 0; j < map_pages.size(); ++j) {
        const uint32_t number = map_pages[j];
        if (number == 0) continue;
        std::vector<uint8_t> page = number < page_count ? context.read_page(number) : std::vector<uint8_t>{};
        if (page.empty()) {
            page.assign(context.page_size(), 0);
            page[0] = page_type::usage_map;
            page[1] = 0x01;
        }
        fill_bits(std::span<uint8_t>(page).subspan(kMapPageHead), j * per_page, wanted);
        if (number < page_count) context.write_page(number, page);
        else context.append_page(page);  // ascending from the old end, slot by slot
        put_u32(row.bytes(), 1 + 4 * j, number);
    }
    context.write_page(row.page, row.host);
    return true;
}

}  // namespace

bool write_global_map(FixContext& context, const Layout& layout, const std::vector<bool>& free_in_file,
                      const std::vector<bool>& claimed) {
    auto row = locate(context, layout, 1u << 8);
    if (!row) return false;
    std::span<uint8_t> bytes = row->bytes();
    const uint64_t page_count = free_in_file.size();
    // Bits of pages past the end mean nothing; Access leaves them set or clear, so an inline
    // map keeps what it holds there (new bytes of a grown row say free).
    const std::vector<uint8_t> before(bytes.begin(), bytes.end());
    const bool kept_window = before.size() >= kInlineHead && before[0] == kInline && before[1] == 0 &&
                             before[2] == 0 && before[3] == 0 && before[4] == 0;
    const Wanted wanted = [&](uint64_t p) {
        if (p < page_count) return bool(free_in_file[p]);
        if (kept_window && kInlineHead + p / 8 < before.size()) return ((before[kInlineHead + p / 8] >> (p % 8)) & 1) != 0;
        return true;
    };
    uint64_t last_used = 0;
    bool any_used = false;
    for (uint64_t p = 0; p < page_count; ++p)
        if (!free_in_file[p]) {
            last_used = p;
            any_used = true;
        }
    if (bytes[0] == kReference) return write_global_reference(context, layout, *row, free_in_file, claimed);
    if (bytes.size() < kInlineHead) return false;
    // Pages before the window or past its reach count as free: every used page must be inside.
    // A file that outgrew the row gets a longer row, as Access gives it when the file grows.
    const uint64_t reach = 8 * uint64_t(bytes.size() - kInlineHead);
    if (any_used && last_used >= reach) {
        const auto grown = with_row_resized(row->host, layout, 0, kInlineHead + global_bitmap_bytes(page_count));
        if (!grown) return false;
        row->host = *grown;
        const RowSlot slot = DataPage(row->host, layout).slot(0);
        row->start = slot.start;
        row->end = slot.end;
        bytes = row->bytes();
    }
    bytes[0] = kInline;
    put_u32(bytes, 1, 0);
    fill_bits(bytes.subspan(kInlineHead), 0, wanted);
    context.write_page(row->page, row->host);
    return true;
}

}  // namespace jet
