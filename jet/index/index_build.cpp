#include "jet/index/index_build.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>
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
template <class E>
inline size_t pair_prefix(const E& first, const E& other, size_t cap) {
    const size_t shorter = first.key.size() < other.key.size() ? first.key.size() : other.key.size();
    const size_t limit = shorter + 3 < cap ? shorter + 3 : cap;
    const size_t both = shorter < limit ? shorter : limit;
    size_t n = common_length(first.key.data(), other.key.data(), both);
    if (n < both) return n;
    auto at = [](const E& e, size_t i) { return i < e.key.size() ? e.key[i] : page_byte(e, i - e.key.size()); };
    while (n < limit && at(first, n) == at(other, n)) ++n;
    return n;
}

template <class E>
size_t pair_prefix(const E& first, const E& other, const Layout& layout) {
    return pair_prefix(first, other, prefix_field(layout));
}

// Fills one page at a time, keeping the packed size under the page's capacity.
template <class E>
class Packer {
public:
    Packer(const Layout& layout, bool leaf, bool compress)
        : layout_(layout), leaf_(leaf), compress_(compress), capacity_(index_entry_capacity(layout)) {}

    bool fits(const E& e) const {
        const size_t size = stored_entry_size(e, leaf_);
        if (entries_.empty()) return size <= capacity_;
        if (!compress_) return full_ + size <= capacity_;
        const size_t p = std::min(entries_.size() == 1 ? SIZE_MAX : prefix_, pair_prefix(entries_.front(), e, layout_));
        return full_ + size - entries_.size() * p <= capacity_;
    }
    void add(E e) {
        if (!entries_.empty()) {
            const size_t p = pair_prefix(entries_.front(), e, layout_);
            prefix_ = entries_.size() == 1 ? p : std::min(prefix_, p);
        }
        full_ += stored_entry_size(e, leaf_);
        entries_.push_back(std::move(e));
    }
    bool empty() const { return entries_.empty(); }
    std::vector<E> take() {
        full_ = 0;
        prefix_ = 0;
        return std::exchange(entries_, {});
    }

private:
    const Layout& layout_;
    bool leaf_;
    bool compress_;
    size_t capacity_;
    std::vector<E> entries_;
    size_t full_ = 0;
    size_t prefix_ = 0;
};

template <class E>
struct Node {
    bool leaf = true;
    std::vector<E> entries;  // children as node ids
    std::vector<uint32_t> children;
    uint32_t tail = 0;  // node id + 1; 0 = none
    uint32_t prev = kNone, next = kNone;
    E last;             // last leaf entry below
    size_t prefix = 0;  // leaves: the longest prefix their entries share
    // Leaves over entries held elsewhere: a run of them, not copied.
    bool borrowed = false;
    size_t first = 0, count = 0;
};

[[noreturn]] void too_long() { throw std::length_error("index entry larger than an index page"); }

template <class E>
void link(std::vector<Node<E>>& nodes, const std::vector<uint32_t>& ids) {
    for (size_t i = 0; i + 1 < ids.size(); ++i) {
        nodes[ids[i]].next = ids[i + 1];
        nodes[ids[i + 1]].prev = ids[i];
    }
}

// Leaves are runs of consecutive entries: each page is measured as it grows (the rule of
// Packer, the prefix of each entry with the page's first computed once) and its entries
// copied, or moved, once it is closed.
template <class E, class Entries>
std::vector<uint32_t> build_leaves(Entries&& entries, const Layout& layout, std::vector<Node<E>>& nodes) {
    std::vector<uint32_t> ids;
    const size_t capacity = index_entry_capacity(layout);
    const size_t count = entries.size();
    size_t first = 0;  // the open page's first entry
    size_t full = 0, prefix = 0;
    auto close = [&](size_t end) {
        Node<E> n;
        const auto from = entries.begin() + std::ptrdiff_t(first), to = entries.begin() + std::ptrdiff_t(end);
        if constexpr (std::is_same_v<E, KeyEntry>) {
            n.borrowed = true;
            n.first = first;
            n.count = end - first;
        } else if constexpr (std::is_const_v<std::remove_reference_t<decltype(entries[0])>>) {
            n.entries.assign(from, to);
        } else {
            n.entries.assign(std::make_move_iterator(from), std::make_move_iterator(to));
        }
        n.last = end == first ? E{} : n.borrowed ? entries[end - 1] : n.entries.back();
        n.prefix = prefix;
        ids.push_back(static_cast<uint32_t>(nodes.size()));
        nodes.push_back(std::move(n));
        first = end;
        full = prefix = 0;
    };
    const size_t field = prefix_field(layout);
    for (size_t i = 0; i < count; ++i) {
        const E& e = entries[i];
        const size_t size = e.key.size() + kLeafTail;
        const size_t open = i - first;
        size_t pair = 0;
        bool fits = size <= capacity;
        if (open > 0) {
            // Only the prefix all the page's entries share counts: no need to look past it.
            const size_t cap = open == 1 ? field : prefix;
            pair = cap == 0 ? 0 : pair_prefix(entries[first], e, cap);
            fits = full + size - open * pair <= capacity;
        }
        if (!fits) {
            if (open == 0) too_long();
            close(i);
        } else if (open > 0) {
            prefix = pair;
        }
        full += size;
    }
    close(count);  // an empty index is one empty leaf
    link(nodes, ids);
    return ids;
}

template <class E>
std::vector<uint32_t> build_level(const std::vector<uint32_t>& below, const Layout& layout, std::vector<Node<E>>& nodes) {
    std::vector<uint32_t> ids;
    Packer<E> packer(layout, false, false);
    std::vector<uint32_t> kids;
    auto entry_for = [&](uint32_t child) {
        E e = nodes[child].last;
        e.child = child;
        return e;
    };
    auto close = [&] {
        Node<E> n;
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
            E e = entry_for(kids.back());
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

// Lays the entries out and hands each page, root first, to `emit(head, borrowed, owned,
// children)`: its entries as a run of the given ones (leaves of KeyEntry) or its own.
template <class E, class Entries, class Emit>
void lay_out(Entries&& entries, const Layout& layout, uint32_t owner, size_t& leaf_count, Emit emit) {
    std::vector<Node<E>> nodes;
    std::vector<uint32_t> level = build_leaves<E>(std::forward<Entries>(entries), layout, nodes);
    auto entries_of = [&](const Node<E>& n) {
        return n.borrowed ? std::span<const E>(entries).subspan(n.first, n.count) : std::span<const E>(n.entries);
    };
    leaf_count = level.size();
    while (level.size() > 1) level = build_level(level, layout, nodes);
    for (Node<E>& n : nodes)
        if (n.leaf) n.children.clear();

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

    // Access stores a shared prefix only on the leaves of an index of several leaves; a
    // lone leaf and intermediate pages are kept whole when they fit that way.
    const bool lone_leaf_whole =
        leaf_count == 1 &&
        packed_size(entries_of(nodes[level.front()]), true, layout, 0) <= index_entry_capacity(layout);
    for (uint32_t id : order) {
        Node<E>& n = nodes[id];
        IndexPageSpec head;
        head.leaf = n.leaf;
        head.owner = owner;
        head.prefix_length = !n.leaf || (leaf_count == 1 && lone_leaf_whole) ? 0 : n.prefix;
        head.prev = n.prev == kNone ? kNone : position[n.prev];
        head.next = n.next == kNone ? kNone : position[n.next];
        head.tail = n.tail == 0 ? kNone : position[n.tail - 1];
        if (!n.leaf)
            for (E& e : n.entries) e.child = position[e.child];
        std::vector<size_t> children;
        for (uint32_t c : n.children) children.push_back(position[c]);
        emit(std::move(head), n.borrowed ? entries_of(n) : std::span<const E>{}, std::move(n.entries),
             std::move(children));
    }
}

template <class Entries>
BuiltIndex build(Entries&& entries, const Layout& layout, uint32_t owner) {
    BuiltIndex out;
    out.entry_count = entries.size();
    lay_out<IndexEntry>(std::forward<Entries>(entries), layout, owner, out.leaf_count,
                        [&](IndexPageSpec head, std::span<const IndexEntry>, std::vector<IndexEntry>&& es,
                            std::vector<size_t>&& children) {
                            head.entries = std::move(es);
                            out.pages.push_back({std::move(head), std::move(children)});
                        });
    return out;
}

}  // namespace

BuiltIndex build_index(const std::vector<IndexEntry>& entries, const Layout& layout, uint32_t owner) {
    return build(entries, layout, owner);
}

BuiltIndex build_index(std::vector<IndexEntry>&& entries, const Layout& layout, uint32_t owner) {
    return build(std::move(entries), layout, owner);
}

BuiltKeyIndex build_index(std::span<const KeyEntry> entries, const Layout& layout, uint32_t owner) {
    BuiltKeyIndex out;
    out.entry_count = entries.size();
    lay_out<KeyEntry>(entries, layout, owner, out.leaf_count,
                      [&](IndexPageSpec head, std::span<const KeyEntry> run, std::vector<KeyEntry>&& es,
                          std::vector<size_t>&& children) {
                          out.pages.push_back({std::move(head), std::move(es), run, std::move(children)});
                      });
    return out;
}

std::vector<uint8_t> render_index_pages(const BuiltKeyIndex& built, const std::vector<uint32_t>& numbers,
                                        const Layout& layout) {
    const size_t size = layout.page_size;
    std::vector<uint8_t> bytes(built.pages.size() * size, 0);
    for (size_t i = 0; i < built.pages.size(); ++i) {
        const BuiltKeyPage& p = built.pages[i];
        if (!write_built_index_page(p.head, p.all(), layout, numbers, std::span(bytes).subspan(i * size, size)))
            throw std::length_error("index page overflow");
    }
    return bytes;
}

std::vector<std::vector<uint8_t>> render_index(const BuiltKeyIndex& built, const std::vector<uint32_t>& numbers,
                                               const Layout& layout) {
    const std::vector<uint8_t> bytes = render_index_pages(built, numbers, layout);
    std::vector<std::vector<uint8_t>> pages;
    for (size_t at = 0; at < bytes.size(); at += layout.page_size)
        pages.emplace_back(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + layout.page_size));
    return pages;
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
