#pragma once
// Rewrites a usage map in place (the global free-page map, an index's owned-page map):
// inline maps (type 0) and reference maps (type 1, bits in type-0x05 map pages). The row
// keeps its length; only bits change, and an inline map may move its window.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/file/page_store.h"

namespace jet {

class UsageMapEdit {
public:
    // The map in the row `row_pointer` (as stored: row byte + 24-bit page) names; nullopt
    // with a Spanish reason when the row cannot be used.
    static std::optional<UsageMapEdit> load(const PageStore& store, const Layout& layout, uint32_t row_pointer,
                                            std::string& why);

    bool covers(uint32_t page) const;
    bool get(uint32_t page) const;
    void set(uint32_t page, bool on);  // ignored when the page is not covered
    // Clears the bits of pages [first, first + count) the map covers, a byte at a time where
    // it can, skipping what it does not cover.
    void clear_range(uint32_t first, uint32_t count);
    // Every page whose bit is set, within [0, limit).
    std::vector<uint32_t> set_pages(uint32_t limit) const;
    void clear_all();
    // Inline maps: moves the window (start a multiple of 8) so every page fits, clearing
    // it; false when no window holds them all. Reference maps: true when all are covered.
    bool cover_all(const std::vector<uint32_t>& pages);
    // Writes the changed pages back; new map pages (added below) in ascending order, so
    // those past the end of the file append.
    void save(PageStore& store) const;
    // The same without reading the store back: writes the pages changed here since they
    // were read or last saved. The caller must not have written them meanwhile; if it did,
    // the edit stays outdated() after the save.
    void save_changes(PageStore& store);

    // Whether the edit holds that page (read, or added as a map page).
    bool holds(uint32_t page) const { return pages_.count(page) > 0; }
    bool shares_page(const UsageMapEdit& other) const;
    // Whether something else wrote a page the edit holds since it read it or last saved:
    // the edit's bytes may then be old, and saving them would undo that write.
    bool outdated(const PageStore& store) const;

    bool is_inline() const { return type_ == 0x00; }
    // Inline maps: first page and number of pages the bitmap names.
    uint32_t window_start() const;
    uint32_t window_pages() const;
    // Reference maps: the map-page slots the pages need that hold no map page yet;
    // nullopt when a page lies past the last slot.
    std::optional<std::vector<size_t>> missing_slots(const std::vector<uint32_t>& pages) const;
    // Turns an inline map into a reference map in the same row, every slot empty; false
    // when the row cannot hold a single slot.
    bool make_reference();
    // Gives a reference map's empty slot a new map page: bits clear, or, from page
    // `set_from` on, set (the global map's pages past the end of the file are free).
    void add_map_page(size_t slot, uint32_t page, uint64_t set_from = UINT64_MAX);
    // Covered, or a reference map's slot for it exists and can be given a map page.
    bool can_cover(uint32_t page) const;

private:
    uint8_t* bit_byte(uint32_t page, uint8_t& mask);
    const uint8_t* bit_byte(uint32_t page, uint8_t& mask) const;
    // The page holding `page`'s bit (bit_byte found it).
    uint32_t bit_page(uint32_t page) const;

    const Layout* layout_ = nullptr;
    uint32_t host_ = 0;
    size_t row_start_ = 0, row_end_ = 0;
    uint8_t type_ = 0;
    mutable std::map<uint32_t, std::vector<uint8_t>> pages_;  // host page and map pages read so far
    std::set<uint32_t> changed_;  // of pages_, since read or last saved
    const PageStore* store_ = nullptr;
    uint64_t seen_writes_ = 0;  // the store's write count when read or last saved
};

}  // namespace jet
