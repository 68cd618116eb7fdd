#pragma once
// One index as a tree of pages: walks it from the root, checks its shape (page owner,
// levels, leaf chain, node entries against their children, the tail rule, global
// order) and returns its leaf entries in order. Hostile trees (cycles, wrong pages,
// absurd depth) end the walk with an issue, never with a crash.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/index/index_page.h"
#include "jet/file/page_file.h"

namespace jet {

enum class IndexTreeIssueKind {
    PageMissing,        // a pointer names a page past the end of the file
    PageInvalid,        // the page itself is damaged (see page_issue)
    WrongOwner,         // the page belongs to another table
    Cycle,              // a page is reached twice
    TooDeep,            // more levels than any real index has
    UnevenDepth,        // leaves at different depths
    EmptyNode,          // an intermediate page with no children
    NodeEntryMismatch,  // a node entry below its child's last entry or not below the next child's first
    OutOfOrder,         // entries across pages not strictly increasing
    LeafChain,          // leaf prev/next links do not follow the leaf order
};

struct IndexTreeIssue {
    IndexTreeIssueKind kind;
    uint32_t page = 0;
    IndexPageIssueKind page_issue = IndexPageIssueKind::WrongType;  // for PageInvalid
    std::string detail;  // Spanish
};

// The leaf entries of a tree in order, their keys side by side in one buffer: a check reads
// every tree of the file, and an entry apiece would cost an allocation-sized copy each.
class TreeEntries {
public:
    void add(std::span<const uint8_t> key, RowPointer row);
    void reserve(size_t entries, size_t key_bytes) {
        slots_.reserve(entries);
        bytes_.reserve(key_bytes);
    }
    size_t size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    std::span<const uint8_t> key(size_t i) const { return {bytes_.data() + slots_[i].offset, slots_[i].length}; }
    RowPointer row(size_t i) const { return slots_[i].row; }
    KeyEntry operator[](size_t i) const { return {key(i), row(i), 0}; }
    // Copies, for callers that keep entries beyond the tree.
    std::vector<IndexEntry> to_entries() const;

private:
    struct Slot {
        uint32_t offset;
        uint32_t length;
        RowPointer row;
    };
    std::vector<uint8_t> bytes_;
    std::vector<Slot> slots_;
};

struct IndexTree {
    TreeEntries entries;              // every leaf entry, in tree order
    std::vector<uint32_t> pages;      // every index page reached
    std::vector<uint32_t> leaves;     // leaf pages in tree order
    size_t depth = 0;                 // levels below the root (0: the root is a leaf)
    std::vector<IndexTreeIssue> issues;

    bool valid() const { return issues.empty(); }
};

// Each leaf entry in tree order; the key view lasts for the call only.
using IndexEntryVisitor = std::function<void(std::span<const uint8_t> key, RowPointer row)>;

// The walk below, handing the leaf entries to `visit` instead of keeping them (the tree's
// entries stay empty): its memory is that of the pages, not of the keys. `entry_pages`
// receives the pages whose entries were handed over, in order, for walking them again.
IndexTree walk_index_tree(const PageFile& file, const Layout& layout, uint32_t root, uint32_t owner,
                          const IndexEntryVisitor& visit, std::vector<uint32_t>* entry_pages = nullptr);

// The same entries again, from one of the pages walk_index_tree named (the file unchanged since).
void for_each_entry_on(const PageFile& file, const Layout& layout, uint32_t entry_page, const IndexEntryVisitor& visit);

// Walks the index whose root page is `root`, owned by the table whose TDEF is `owner`.
// `expected_entries` (the definition's count, which may be wrong) only sizes the store.
IndexTree read_index_tree(const PageFile& file, const Layout& layout, uint32_t root,
                          uint32_t owner, size_t expected_entries = 0);

// The pages the same walk reaches, in the same order, reading only intermediate pages'
// entries: for callers that need where an index lies, not what it holds.
std::vector<uint32_t> index_tree_pages(const PageFile& file, const Layout& layout, uint32_t root);

}  // namespace jet
