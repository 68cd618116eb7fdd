#include "jet/index/index_build.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "jet/base/byte_runs.h"

namespace jet {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr size_t kLeafTail = 4;  // a leaf entry's row pointer (stored_entry_size)

template <class E>
uint8_t page_byte(const E& e, size_t i) { return static_cast<uint8_t>(e.row.page >> (8 * (2 - i))); }

// Longest prefix the layout's prefix field holds.
size_t prefix_field(const Layout& layout) { return layout.jet3 ? 0xFF : 0xFFFF; }

// Bytes two entries may share as a page prefix: never into the row byte (the rule of
// shared_prefix_length, pair by pair), and not past `cap` (at most prefix_field).
template <class A, class B>
inline size_t pair_prefix(const A& first, const B& other, size_t cap) {
    const size_t shorter = first.key.size() < other.key.size() ? first.key.size() : other.key.size();
    const size_t limit = shorter + 3 < cap ? shorter + 3 : cap;
    const size_t both = shorter < limit ? shorter : limit;
    size_t n = common_length(first.key.data(), other.key.data(), both);
    if (n < both) return n;
    auto at = [](const auto& e, size_t i) { return i < e.key.size() ? e.key[i] : page_byte(e, i - e.key.size()); };
    while (n < limit && at(first, n) == at(other, n)) ++n;
    return n;
}

// Fills one intermediate page at a time, keeping its size under the page's capacity.
class Packer {
public:
    explicit Packer(const Layout& layout) : capacity_(index_entry_capacity(layout)) {}

    bool fits(const IndexEntry& e) const { return full_ + stored_entry_size(e, false) <= capacity_; }
    void add(IndexEntry e) {
        full_ += stored_entry_size(e, false);
        entries_.push_back(std::move(e));
    }
    bool empty() const { return entries_.empty(); }
    std::vector<IndexEntry> take() {
        full_ = 0;
        return std::exchange(entries_, {});
    }

private:
    size_t capacity_;
    std::vector<IndexEntry> entries_;
    size_t full_ = 0;
};

struct Node {
    bool leaf = true;
    std::vector<IndexEntry> entries;  // intermediate pages: children as node ids
    std::vector<uint32_t> children;
    uint32_t tail = 0;  // node id + 1; 0 = none
    uint32_t prev = kNone, next = kNone;
    IndexEntry last;    // last leaf entry below
    size_t prefix = 0;  // leaves: the longest prefix their entries share
    size_t count = 0;   // leaves: how many entries
};

[[noreturn]] void too_long() { throw std::length_error("index entry larger than an index page"); }

void link(std::vector<Node>& nodes, const std::vector<uint32_t>& ids) {
    for (size_t i = 0; i + 1 < ids.size(); ++i) {
        nodes[ids[i]].next = ids[i + 1];
        nodes[ids[i + 1]].prev = ids[i];
    }
}

// Leaves are runs of consecutive entries: each page is measured as it grows (the prefix
// of each entry with the page's first, only as far as all of them share one) and closed
// when the next entry would not fit. Only the open page's first and last entries are kept.
std::vector<uint32_t> build_leaves(EntryStream& entries, const Layout& layout, std::vector<Node>& nodes,
                                   size_t& total) {
    std::vector<uint32_t> ids;
    const size_t capacity = index_entry_capacity(layout);
    const size_t field = prefix_field(layout);
    size_t open = 0, full = 0, prefix = 0;
    IndexEntry first, last;
    auto close = [&] {
        Node n;
        n.count = open;
        if (open) n.last = std::move(last);
        n.prefix = prefix;
        ids.push_back(static_cast<uint32_t>(nodes.size()));
        nodes.push_back(std::move(n));
        open = full = prefix = 0;
    };
    KeyEntry e;
    entries.restart();
    while (entries.next(e)) {
        ++total;
        const size_t size = e.key.size() + kLeafTail;
        size_t pair = 0;
        bool fits = size <= capacity;
        if (open > 0) {
            const size_t cap = open == 1 ? field : prefix;
            pair = cap == 0 ? 0 : pair_prefix(first, e, cap);
            fits = full + size - open * pair <= capacity;
        }
        if (!fits) {
            if (open == 0) too_long();
            close();
        } else if (open > 0) {
            prefix = pair;
        }
        if (open == 0) {
            first.key.assign(e.key.begin(), e.key.end());
            first.row = e.row;
        }
        last.key.assign(e.key.begin(), e.key.end());
        last.row = e.row;
        full += size;
        ++open;
    }
    close();  // an empty index is one empty leaf
    link(nodes, ids);
    return ids;
}

std::vector<uint32_t> build_level(const std::vector<uint32_t>& below, const Layout& layout, std::vector<Node>& nodes) {
    std::vector<uint32_t> ids;
    Packer packer(layout);
    std::vector<uint32_t> kids;
    auto entry_for = [&](uint32_t child) {
        IndexEntry e = nodes[child].last;
        e.child = child;
        return e;
    };
    auto close = [&] {
        Node n;
        n.leaf = false;
        n.entries = packer.take();
        if (kids.size() == 1) {
            n.entries.push_back(entry_for(kids.front()));  // one child: a plain entry, no tail
        } else {
            n.tail = kids.back() + 1;
        }
        n.children = kids;
        n.last = nodes[kids.back()].last;
        link(nodes, kids);
        ids.push_back(static_cast<uint32_t>(nodes.size()));
        nodes.push_back(std::move(n));
        kids.clear();
    };
    for (uint32_t child : below) {
        if (!kids.empty()) {
            IndexEntry e = entry_for(kids.back());
            if (packer.fits(e)) {
                packer.add(std::move(e));
            } else {
                if (packer.empty() && kids.size() > 1) too_long();
                close();
            }
        }
        kids.push_back(child);
    }
    close();
    return ids;
}

// Entries held in a vector, as a stream.
class VectorStream final : public EntryStream {
public:
    explicit VectorStream(const std::vector<IndexEntry>& entries) : entries_(entries) {}
    void restart() override { at_ = 0; }
    bool next(KeyEntry& out) override {
        if (at_ >= entries_.size()) return false;
        const IndexEntry& e = entries_[at_++];
        out = {e.key.span(), e.row, 0};
        return true;
    }

private:
    const std::vector<IndexEntry>& entries_;
    size_t at_ = 0;
};

// The next leaf's entries read from the stream, their keys copied into one buffer.
class LeafEntries {
public:
    std::span<const KeyEntry> take(EntryStream& entries, size_t count) {
        bytes_.clear();
        rows_.clear();
        KeyEntry e;
        for (size_t i = 0; i < count; ++i) {
            if (!entries.next(e)) throw std::length_error("fewer index entries than planned");
            rows_.push_back({e.row, bytes_.size(), e.key.size()});
            bytes_.insert(bytes_.end(), e.key.begin(), e.key.end());
        }
        views_.clear();
        for (const Row& r : rows_) views_.push_back({{bytes_.data() + r.offset, r.length}, r.row, 0});
        return views_;
    }

private:
    struct Row {
        RowPointer row;
        size_t offset, length;
    };
    std::vector<uint8_t> bytes_;
    std::vector<Row> rows_;
    std::vector<KeyEntry> views_;
};

// Access stores a shared prefix only on the leaves of an index of several leaves; a lone
// leaf is kept whole when it fits that way.
bool lone_leaf_whole(const IndexPlan& plan, std::span<const KeyEntry> entries, const Layout& layout) {
    return plan.leaf_count == 1 && packed_size(entries, true, layout, 0) <= index_entry_capacity(layout);
}

}  // namespace

IndexPlan plan_index(EntryStream& entries, const Layout& layout, uint32_t owner) {
    IndexPlan plan;
    std::vector<Node> nodes;
    std::vector<uint32_t> level = build_leaves(entries, layout, nodes, plan.entry_count);
    plan.leaf_count = level.size();
    while (level.size() > 1) level = build_level(level, layout, nodes);

    // Pre-order positions, root first.
    std::vector<uint32_t> order;
    std::vector<uint32_t> position(nodes.size(), kNone);
    std::vector<uint32_t> stack{level.front()};
    while (!stack.empty()) {
        uint32_t id = stack.back();
        stack.pop_back();
        position[id] = static_cast<uint32_t>(order.size());
        order.push_back(id);
        for (auto it = nodes[id].children.rbegin(); it != nodes[id].children.rend(); ++it) stack.push_back(*it);
    }

    plan.pages.reserve(order.size());
    for (uint32_t id : order) {
        Node& n = nodes[id];
        PlannedIndexPage page;
        IndexPageSpec& head = page.head;
        head.leaf = n.leaf;
        head.owner = owner;
        head.prefix_length = n.leaf ? n.prefix : 0;
        head.prev = n.prev == kNone ? kNone : position[n.prev];
        head.next = n.next == kNone ? kNone : position[n.next];
        head.tail = n.tail == 0 ? kNone : position[n.tail - 1];
        for (IndexEntry& e : n.entries) e.child = position[e.child];
        head.entries = std::move(n.entries);
        for (uint32_t c : n.children) page.children.push_back(position[c]);
        page.leaf_entries = n.count;
        plan.pages.push_back(std::move(page));
    }
    return plan;
}

void write_index_pages(const IndexPlan& plan, EntryStream& entries, const std::vector<uint32_t>& numbers,
                       const Layout& layout, const std::function<void(size_t, std::span<const uint8_t>)>& put) {
    std::vector<uint8_t> bytes(layout.page_size);
    LeafEntries leaf;
    entries.restart();
    // Pre-order meets the leaves left to right: each takes the next entries of the stream.
    for (size_t i = 0; i < plan.pages.size(); ++i) {
        const PlannedIndexPage& page = plan.pages[i];
        std::fill(bytes.begin(), bytes.end(), 0);
        bool done;
        if (page.head.leaf) {
            const std::span<const KeyEntry> run = leaf.take(entries, page.leaf_entries);
            IndexPageSpec head = page.head;
            if (lone_leaf_whole(plan, run, layout)) head.prefix_length = 0;
            done = write_built_index_page(head, run, layout, numbers, bytes);
        } else {
            done = write_built_index_page(page.head, page.head.entries, layout, numbers, bytes);
        }
        if (!done) throw std::length_error("index page overflow");
        put(i, bytes);
    }
}

BuiltIndex build_index(const std::vector<IndexEntry>& entries, const Layout& layout, uint32_t owner) {
    VectorStream stream(entries);
    IndexPlan plan = plan_index(stream, layout, owner);
    BuiltIndex out;
    out.entry_count = plan.entry_count;
    out.leaf_count = plan.leaf_count;
    size_t next = 0;
    for (PlannedIndexPage& page : plan.pages) {
        BuiltIndexPage built{std::move(page.head), std::move(page.children)};
        if (built.spec.leaf) {
            const auto from = entries.begin() + std::ptrdiff_t(next);
            built.spec.entries.assign(from, from + std::ptrdiff_t(page.leaf_entries));
            next += page.leaf_entries;
            std::vector<KeyEntry> views;
            for (const IndexEntry& e : built.spec.entries) views.push_back({e.key.span(), e.row, 0});
            if (lone_leaf_whole(plan, views, layout)) built.spec.prefix_length = 0;
        }
        out.pages.push_back(std::move(built));
    }
    return out;
}

std::vector<std::vector<uint8_t>> render_index(const BuiltIndex& built, const std::vector<uint32_t>& numbers,
                                               const Layout& layout) {
    std::vector<std::vector<uint8_t>> pages;
    pages.reserve(built.pages.size());
    for (const BuiltIndexPage& p : built.pages) {
        std::vector<uint8_t> bytes = write_index_page(p.spec, p.spec.entries, layout, &numbers);
        if (bytes.empty()) throw std::length_error("index page overflow");
        pages.push_back(std::move(bytes));
    }
    return pages;
}

}  // namespace jet
