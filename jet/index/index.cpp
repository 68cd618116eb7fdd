#include "jet/index/index.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <unordered_set>

namespace jet {
namespace {

constexpr size_t kMaxDepth = 32;  // a 4 KB-page index of 2^32 rows needs far fewer

std::string page_text(uint32_t page) { return "página " + std::to_string(page); }

class TreeWalker {
public:
    TreeWalker(const PageFile& file, const Layout& layout, uint32_t owner, IndexTree& out,
               const IndexEntryVisitor& visit, std::vector<uint32_t>* entry_pages)
        : file_(file), layout_(layout), owner_(owner), out_(out), visit_(visit), entry_pages_(entry_pages) {}

    // Walks the subtree at `number`; true when it gave entries (the last one is last_).
    bool walk(uint32_t number, size_t depth) {
        if (depth > kMaxDepth) {
            issue(IndexTreeIssueKind::TooDeep, number, "el índice tiene demasiados niveles");
            return false;
        }
        if (!visited_.insert(number).second) {
            issue(IndexTreeIssueKind::Cycle, number,
                  "la " + page_text(number) + " aparece dos veces en el árbol del índice");
            return false;
        }
        const PageRef ref = number == 0 ? PageRef{} : file_.fetch(number);
        const Bytes bytes = ref.bytes();
        if (bytes.empty()) {
            issue(IndexTreeIssueKind::PageMissing, number,
                  "el índice apunta a la " + page_text(number) + ", que no existe");
            return false;
        }
        // A leaf's entries go straight to the visitor; only the first and the last are kept,
        // to compare with the pages around it. A node's are kept to walk.
        const size_t before = count_;
        const bool leaf_bytes = bytes[0] == page_type::index_leaf;
        IndexPage page = leaf_bytes ? parse_index_page(bytes, layout_,
                                                       [&](std::span<const uint8_t> key, RowPointer row, uint32_t) {
                                                           take_entry(key, row, before);
                                                       })
                                    : parse_index_page(bytes, layout_);
        if (leaf_bytes && entry_pages_) entry_pages_->push_back(number);
        out_.pages.push_back(number);
        for (const auto& pi : page.issues) {
            IndexTreeIssue t{IndexTreeIssueKind::PageInvalid, number, pi.kind,
                             page_text(number) + ": " + pi.detail};
            out_.issues.push_back(std::move(t));
        }
        if (page.type != page_type::index_leaf && page.type != page_type::index_node)
            return false;
        if (page.owner != owner_)
            issue(IndexTreeIssueKind::WrongOwner, number,
                  "la " + page_text(number) + " del índice pertenece a otra tabla (" +
                      std::to_string(page.owner) + ")");
        return page.leaf ? take_leaf(number, depth, page, before) : take_node(number, depth, page);
    }

    size_t count() const { return count_; }

private:
    struct Kept {
        std::vector<uint8_t> key;
        RowPointer row;
        void set(std::span<const uint8_t> k, RowPointer r) {
            key.assign(k.begin(), k.end());
            row = r;
        }
    };

    void take_entry(std::span<const uint8_t> key, RowPointer row, size_t first) {
        if (count_ == first) {
            if (count_ > 0) previous_.set(last_.key, last_.row);
            first_.set(key, row);
        }
        last_.set(key, row);
        ++count_;
        if (visit_) visit_(key, row);
    }

    bool take_leaf(uint32_t number, size_t depth, const IndexPage& page, size_t first) {
        if (!leaf_depth_) {
            leaf_depth_ = depth;
            out_.depth = depth;
        } else if (*leaf_depth_ != depth) {
            issue(IndexTreeIssueKind::UnevenDepth, number,
                  "las hojas del índice no están todas al mismo nivel");
        }
        if (!out_.leaves.empty()) {
            uint32_t before = out_.leaves.back();
            if (prev_leaf_next_ != number || page.prev != before)
                issue(IndexTreeIssueKind::LeafChain, number,
                      "la cadena de hojas del índice no enlaza la " + page_text(before) +
                          " con la " + page_text(number));
        } else if (page.prev != 0) {
            issue(IndexTreeIssueKind::LeafChain, number,
                  "la primera hoja del índice tiene página anterior");
        }
        out_.leaves.push_back(number);
        prev_leaf_next_ = page.next;
        check_order(number, page, first);
        if (count_ > first) check_upper_bounds();
        return count_ > first;
    }

    bool take_node(uint32_t number, size_t depth, const IndexPage& page) {
        if (page.entries.empty() && page.tail == 0) {
            issue(IndexTreeIssueKind::EmptyNode, number,
                  "la " + page_text(number) + " intermedia del índice no tiene páginas hijas");
            return false;
        }
        bool gave = false;
        for (const auto& e : page.entries) {
            gave = walk(e.child, depth + 1);
            if (gave && compare_entries(last_.key, last_.row, e.key, e.row) > 0)
                issue(IndexTreeIssueKind::NodeEntryMismatch, number,
                      "una entrada de la " + page_text(number) +
                          " es menor que la última entrada de su página hija " + std::to_string(e.child));
            upper_bounds_.push_back({number, e});
        }
        // The last child hangs off the tail pointer, not off an entry.
        if (page.tail != 0) gave = walk(page.tail, depth + 1);
        return gave;
    }

    // The page parse has compared the entries within the page; only its first entry is
    // left to compare with the last one before it.
    void check_order(uint32_t number, const IndexPage& page, size_t first) {
        const bool disordered = std::any_of(page.issues.begin(), page.issues.end(), [](const IndexPageIssue& i) {
            return i.kind == IndexPageIssueKind::OutOfOrder;
        });
        const bool after_previous = first == 0 || first == count_ ||
                                    compare_entries(previous_.key, previous_.row, first_.key, first_.row) < 0;
        if (disordered || !after_previous)
            issue(IndexTreeIssueKind::OutOfOrder, number,
                  "las entradas de la " + page_text(number) + " no siguen en orden a las de la hoja anterior");
    }

    // Node entries whose child subtree has been walked stay below the entry that follows
    // that subtree, the first of the leaf just taken: Access writes any bound between the
    // two, not always a copy of the child's last entry.
    void check_upper_bounds() {
        for (const auto& [node, e] : upper_bounds_)
            if (compare_entries(e.key, e.row, first_.key, first_.row) >= 0)
                issue(IndexTreeIssueKind::NodeEntryMismatch, node,
                      "una entrada de la " + page_text(node) + " no es menor que la primera entrada de la " +
                          page_text(out_.leaves.back()) + ", que sigue a su página hija " + std::to_string(e.child));
        upper_bounds_.clear();
    }

    void issue(IndexTreeIssueKind kind, uint32_t page, std::string detail) {
        out_.issues.push_back({kind, page, IndexPageIssueKind::WrongType, std::move(detail)});
    }

    const PageFile& file_;
    const Layout& layout_;
    uint32_t owner_;
    IndexTree& out_;
    const IndexEntryVisitor& visit_;
    std::vector<uint32_t>* entry_pages_;
    std::unordered_set<uint32_t> visited_;
    std::optional<size_t> leaf_depth_;
    uint32_t prev_leaf_next_ = 0;
    std::vector<std::pair<uint32_t, IndexEntry>> upper_bounds_;  // node page, entry
    size_t count_ = 0;  // entries given so far
    Kept first_;         // first entry of the leaf being taken
    Kept previous_;      // last entry before that leaf
    Kept last_;          // last entry given
};

void collect_pages(const PageFile& file, const Layout& layout, uint32_t number, size_t depth,
                   std::unordered_set<uint32_t>& visited, std::vector<uint32_t>& out) {
    if (depth > kMaxDepth || !visited.insert(number).second) return;
    const PageRef ref = number == 0 ? PageRef{} : file.fetch(number);
    const Bytes bytes = ref.bytes();
    if (bytes.empty()) return;
    out.push_back(number);
    if (bytes[0] != page_type::index_node) return;
    const IndexPage page = parse_index_page(bytes, layout);
    for (const auto& e : page.entries) collect_pages(file, layout, e.child, depth + 1, visited, out);
    if (page.tail != 0) collect_pages(file, layout, page.tail, depth + 1, visited, out);
}

}  // namespace

void TreeEntries::add(std::span<const uint8_t> key, RowPointer row) {
    if (bytes_.size() + key.size() > UINT32_MAX) throw std::length_error("index keys exceed 4 GiB");
    slots_.push_back({static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(key.size()), row});
    bytes_.insert(bytes_.end(), key.begin(), key.end());
}

std::vector<IndexEntry> TreeEntries::to_entries() const {
    std::vector<IndexEntry> out(size());
    for (size_t i = 0; i < size(); ++i) {
        out[i].key = key(i);
        out[i].row = row(i);
    }
    return out;
}

std::vector<uint32_t> index_tree_pages(const PageFile& file, const Layout& layout, uint32_t root) {
    std::vector<uint32_t> out;
    std::unordered_set<uint32_t> visited;
    collect_pages(file, layout, root, 0, visited, out);
    return out;
}

IndexTree walk_index_tree(const PageFile& file, const Layout& layout, uint32_t root, uint32_t owner,
                          const IndexEntryVisitor& visit, std::vector<uint32_t>* entry_pages) {
    IndexTree out;
    TreeWalker walker(file, layout, owner, out, visit, entry_pages);
    walker.walk(root, 0);
    if (!out.leaves.empty()) {
        // The chain ends at the last leaf; the loop above checked the links between leaves.
        const PageRef last = file.fetch(out.leaves.back());
        if (u32_at(last, layout.ix_next_page) != 0)
            out.issues.push_back({IndexTreeIssueKind::LeafChain, out.leaves.back(),
                                  IndexPageIssueKind::WrongType,
                                  "la última hoja del índice tiene página siguiente"});
    }
    return out;
}

IndexTree read_index_tree(const PageFile& file, const Layout& layout, uint32_t root,
                          uint32_t owner, size_t expected_entries) {
    TreeEntries entries;
    const size_t hint = std::min<size_t>(expected_entries, 1u << 16);
    entries.reserve(hint, hint * 8);
    IndexTree out = walk_index_tree(file, layout, root, owner,
                                    [&](std::span<const uint8_t> key, RowPointer row) { entries.add(key, row); });
    out.entries = std::move(entries);
    return out;
}

void for_each_entry_on(const PageFile& file, const Layout& layout, uint32_t entry_page, const IndexEntryVisitor& visit) {
    const PageRef ref = file.fetch(entry_page);
    parse_index_page(ref.bytes(), layout, [&](std::span<const uint8_t> key, RowPointer row, uint32_t) { visit(key, row); });
}

}  // namespace jet
