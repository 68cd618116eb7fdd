#pragma once
// Lays out a whole index from its sorted leaf entries: leaves filled in order with the
// longest shared prefix, intermediate pages above them holding the last entry of each
// child but the last (the tail rule), until one root remains. Pages are numbered by
// their position (root first, then depth first, as the tree is walked); the caller maps
// those positions to real page numbers.
//
// The entries are read twice and never held: once to plan the pages (how many entries
// each leaf takes, the intermediate pages whole, which are few), once to fill the leaves
// as their pages are written. A tree of millions of entries costs its intermediate pages.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/base/format.h"
#include "jet/index/index_page.h"

namespace jet {

// Sorted, unique entries (compare_entries) that can be read from the start again.
class EntryStream {
public:
    virtual ~EntryStream() = default;
    virtual void restart() = 0;
    // The next entry; its key stays valid until the next call.
    virtual bool next(KeyEntry& out) = 0;
};

struct PlannedIndexPage {
    IndexPageSpec head;            // intermediate pages: their entries, children as positions
    std::vector<size_t> children;  // positions, in order (the tail last)
    size_t leaf_entries = 0;       // leaves: how many of the entries, taken in order
};

struct IndexPlan {
    std::vector<PlannedIndexPage> pages;  // pages[0] is the root; pre-order
    size_t entry_count = 0;
    size_t leaf_count = 0;
};

// `owner` the table's TDEF page. Throws std::length_error for an entry no page can hold.
IndexPlan plan_index(EntryStream& entries, const Layout& layout, uint32_t owner);

// Composes every page once `numbers[i]` is the real page of position i, in position order,
// reading the leaves' entries again from `entries`; `put(position, bytes)` takes each.
// Throws std::length_error when a page cannot be composed (entries not those planned).
void write_index_pages(const IndexPlan& plan, EntryStream& entries, const std::vector<uint32_t>& numbers,
                       const Layout& layout, const std::function<void(size_t, std::span<const uint8_t>)>& put);

// The same layout with every page's entries at hand, for code that compares trees.
struct BuiltIndexPage {
    IndexPageSpec spec;            // prev/next/tail and entry children are positions in pages
    std::vector<size_t> children;  // positions, in order (the tail last)
};

struct BuiltIndex {
    std::vector<BuiltIndexPage> pages;  // pages[0] is the root; pre-order
    size_t entry_count = 0;
    size_t leaf_count = 0;
};

BuiltIndex build_index(const std::vector<IndexEntry>& entries, const Layout& layout, uint32_t owner);

// Page bytes of every built page once `numbers[i]` is the real page of position i.
std::vector<std::vector<uint8_t>> render_index(const BuiltIndex& built, const std::vector<uint32_t>& numbers,
                                               const Layout& layout);

}  // namespace jet
