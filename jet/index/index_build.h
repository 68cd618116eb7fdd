#pragma once
// Lays out a whole index from its sorted leaf entries: leaves filled in order with the
// longest shared prefix, intermediate pages above them holding the last entry of each
// child but the last (the tail rule), until one root remains. Pages are numbered by
// their position in `pages` (root first, then depth first, as the tree is walked); the
// caller maps those positions to real page numbers.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/base/format.h"
#include "jet/index/index_page.h"

namespace jet {

struct BuiltIndexPage {
    IndexPageSpec spec;            // prev/next/tail and entry children are positions in pages
    std::vector<size_t> children;  // positions, in order (the tail last)
};

struct BuiltIndex {
    std::vector<BuiltIndexPage> pages;  // pages[0] is the root; pre-order
    size_t entry_count = 0;
    size_t leaf_count = 0;
};

// `entries` sorted and unique (compare_entries); `owner` the table's TDEF page.
BuiltIndex build_index(const std::vector<IndexEntry>& entries, const Layout& layout, uint32_t owner);
// The same, taking the entries' keys over instead of copying them.
BuiltIndex build_index(std::vector<IndexEntry>&& entries, const Layout& layout, uint32_t owner);

// The same layout over keys held elsewhere (they and the entries must outlive the
// result): no key is copied, and leaves refer to runs of the entries. Pages and their
// order are those build_index gives for the same entries.
struct BuiltKeyPage {
    IndexPageSpec head;  // head.entries unused
    std::vector<KeyEntry> entries;      // intermediate pages
    std::span<const KeyEntry> run;      // leaves: their run of the entries given
    std::vector<size_t> children;
    std::span<const KeyEntry> all() const { return head.leaf ? run : std::span<const KeyEntry>(entries); }
};
struct BuiltKeyIndex {
    std::vector<BuiltKeyPage> pages;
    size_t entry_count = 0;
    size_t leaf_count = 0;
};
BuiltKeyIndex build_index(std::span<const KeyEntry> entries, const Layout& layout, uint32_t owner);
std::vector<std::vector<uint8_t>> render_index(const BuiltKeyIndex& built, const std::vector<uint32_t>& numbers,
                                               const Layout& layout);
// The same pages end to end in one buffer.
std::vector<uint8_t> render_index_pages(const BuiltKeyIndex& built, const std::vector<uint32_t>& numbers,
                                        const Layout& layout);

// Page bytes of every built page once `numbers[i]` is the real page of position i.
std::vector<std::vector<uint8_t>> render_index(const BuiltIndex& built, const std::vector<uint32_t>& numbers,
                                               const Layout& layout);

}  // namespace jet
