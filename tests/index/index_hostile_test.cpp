// Damaged and hostile index pages and trees: every anomaly is reported, nothing crashes
// (run under AddressSanitizer and UndefinedBehaviorSanitizer in the sanitize preset).
#include <gtest/gtest.h>

#include <random>

#include "jet/index/index.h"
#include "jet/index/index_page.h"
#include "jet/file/page_file.h"

namespace {

using jet::IndexEntry;
using jet::IndexPageIssueKind;
using jet::IndexTreeIssueKind;

constexpr uint32_t kOwner = 7;

IndexEntry entry(uint32_t value, uint32_t page, uint8_t row, uint32_t child = 0) {
    IndexEntry e;
    e.key = {0x7f, 0x80, 0x00, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    e.row = {page, row};
    e.child = child;
    return e;
}

std::vector<IndexEntry> entries(uint32_t from, uint32_t count) {
    std::vector<IndexEntry> out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(entry(from + i, 20 + i / 100, uint8_t(i % 100)));
    return out;
}

std::vector<uint8_t> leaf(const jet::Layout& layout, std::vector<IndexEntry> es, uint32_t prev = 0,
                          uint32_t next = 0) {
    return jet::write_index_page({true, kOwner, prev, next, 0, std::move(es), std::nullopt}, layout);
}

bool has(const jet::IndexPage& p, IndexPageIssueKind kind) {
    for (const auto& i : p.issues)
        if (i.kind == kind) return true;
    return false;
}

bool has(const jet::IndexTree& t, IndexTreeIssueKind kind) {
    for (const auto& i : t.issues)
        if (i.kind == kind) return true;
    return false;
}

class Layouts : public ::testing::TestWithParam<const jet::Layout*> {};

TEST_P(Layouts, WrittenPageParsesBack) {
    const auto& layout = *GetParam();
    auto page = leaf(layout, entries(0, 50));
    auto parsed = jet::parse_index_page(page, layout);
    EXPECT_TRUE(parsed.valid());
    ASSERT_EQ(parsed.entries.size(), 50u);
    EXPECT_EQ(parsed.entries[49].key, entry(49, 0, 0).key);
    EXPECT_GT(parsed.prefix_length, 0u);
    // Entries that do not fit are refused rather than cut.
    EXPECT_TRUE(leaf(layout, entries(0, 2000)).empty());
}

TEST_P(Layouts, DamagedHeaderFieldsAreReported) {
    const auto& layout = *GetParam();
    auto page = leaf(layout, entries(0, 10));
    {
        auto p = page;
        p[0] = 0x01;
        EXPECT_TRUE(has(jet::parse_index_page(p, layout), IndexPageIssueKind::WrongType));
    }
    {
        auto p = page;
        p[2] ^= 0x10;
        EXPECT_TRUE(has(jet::parse_index_page(p, layout), IndexPageIssueKind::FreeSpace));
    }
    {
        auto p = page;
        p[layout.ix_prefix_length] = 0xF0;  // longer than the first entry
        EXPECT_TRUE(has(jet::parse_index_page(p, layout), IndexPageIssueKind::PrefixTooLong));
    }
    {
        auto p = page;
        p[layout.ix_tail_page] = 3;
        EXPECT_TRUE(has(jet::parse_index_page(p, layout), IndexPageIssueKind::TailOnLeaf));
    }
    {
        std::vector<uint8_t> p(page.begin(), page.begin() + 100);
        EXPECT_TRUE(has(jet::parse_index_page(p, layout), IndexPageIssueKind::Truncated));
    }
}

TEST_P(Layouts, DamagedBitmaskIsReported) {
    const auto& layout = *GetParam();
    auto page = leaf(layout, entries(0, 10));
    {
        auto p = page;  // every bit set: one-byte entries, then ends past the page
        std::fill(p.begin() + layout.ix_bitmask, p.begin() + layout.ix_first_entry, 0xFF);
        auto parsed = jet::parse_index_page(p, layout);
        EXPECT_TRUE(has(parsed, IndexPageIssueKind::EntryTooShort));
        EXPECT_TRUE(has(parsed, IndexPageIssueKind::EntryOutsidePage));
    }
    {
        auto p = page;  // an entry end moved back: two entries out of order
        std::fill(p.begin() + layout.ix_bitmask, p.begin() + layout.ix_first_entry, 0x00);
        p[layout.ix_bitmask] = 0x10;   // first entry: bytes 0-3 (too short for key + pointer)
        p[layout.ix_bitmask + 1] = 0x80;
        auto parsed = jet::parse_index_page(p, layout);
        EXPECT_FALSE(parsed.valid());
    }
}

TEST_P(Layouts, EntriesOutOfOrderAreReported) {
    const auto& layout = *GetParam();
    auto es = entries(0, 3);
    std::swap(es[0], es[2]);
    auto page = jet::write_index_page({true, kOwner, 0, 0, 0, es, 0}, layout);
    EXPECT_TRUE(has(jet::parse_index_page(page, layout), IndexPageIssueKind::OutOfOrder));
}

TEST_P(Layouts, RandomDamageNeverCrashes) {
    const auto& layout = *GetParam();
    auto base = leaf(layout, entries(0, 60));
    std::mt19937 rng(12345);
    size_t reported = 0;
    for (int round = 0; round < 3000; ++round) {
        auto p = base;
        int flips = 1 + static_cast<int>(rng() % 8);
        for (int f = 0; f < flips; ++f) {
            // Mostly the header and bitmask, where damage changes how the rest is read.
            size_t at = (rng() % 4) ? rng() % layout.ix_first_entry : rng() % p.size();
            p[at] = static_cast<uint8_t>(rng());
        }
        auto parsed = jet::parse_index_page(p, layout);
        if (!parsed.valid()) ++reported;
        for (const auto& e : parsed.entries) EXPECT_LE(e.key.size(), p.size());
    }
    EXPECT_GT(reported, 1000u);
}

INSTANTIATE_TEST_SUITE_P(Index, Layouts, ::testing::Values(&jet::kJet3Layout, &jet::kJet4Layout),
                         [](const auto& info) { return info.param->jet3 ? "Jet3" : "Jet4"; });

// A file of `count` pages with the given pages placed at their numbers.
jet::PageFile file_with(const jet::Layout& layout, uint32_t count,
                        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages) {
    std::vector<uint8_t> bytes(size_t(count) * layout.page_size, 0);
    for (auto& [n, p] : pages) std::copy(p.begin(), p.end(), bytes.begin() + size_t(n) * layout.page_size);
    return jet::PageFile(std::move(bytes), layout.page_size);
}

std::vector<uint8_t> node(const jet::Layout& layout, std::vector<IndexEntry> es, uint32_t tail) {
    return jet::write_index_page({false, kOwner, 0, 0, tail, std::move(es), std::nullopt}, layout);
}

IndexEntry node_entry(const IndexEntry& last, uint32_t child) {
    IndexEntry e = last;
    e.child = child;
    return e;
}

TEST(IndexTree, TwoLevelTreeWithTailIsRead) {
    const auto& L = jet::kJet4Layout;
    auto a = entries(0, 10), b = entries(10, 10), c = entries(20, 10);
    auto file = file_with(L, 8,
                          {{3, node(L, {node_entry(a.back(), 4), node_entry(b.back(), 5)}, 6)},
                           {4, leaf(L, a, 0, 5)},
                           {5, leaf(L, b, 4, 6)},
                           {6, leaf(L, c, 5, 0)}});
    auto tree = jet::read_index_tree(file, L, 3, kOwner);
    EXPECT_TRUE(tree.valid()) << tree.issues.front().detail;
    EXPECT_EQ(tree.entries.size(), 30u);
    EXPECT_EQ(tree.depth, 1u);
    EXPECT_EQ(tree.leaves, (std::vector<uint32_t>{4, 5, 6}));
}

IndexEntry entry_from(std::vector<uint8_t> bytes, uint32_t child = 0) {
    IndexEntry e;
    const size_t n = bytes.size() - 4;
    e.row = {uint32_t(bytes[n]) << 16 | uint32_t(bytes[n + 1]) << 8 | bytes[n + 2], bytes[n + 3]};
    bytes.resize(n);
    e.key = bytes;
    e.child = child;
    return e;
}

// Measured in a healthy Jet 3 file: Access's node entry lies between its child's last entry
// and the next child's first one, equal to neither.
TEST(IndexTree, NodeEntryIsAnUpperBoundOfItsChild) {
    const auto& L = jet::kJet3Layout;
    std::vector<uint8_t> child_last_bytes = {0x7f, 0x00, 0x00, 0x00, 0x37, 0x7f, 0xff, 0x7f, 0x00, 0x00, 0x00,
                                             0x01, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x10, 0x0b};
    const IndexEntry child_last = entry_from(child_last_bytes);
    const IndexEntry bound = entry_from({0x7f, 0x00, 0x00, 0x00, 0x3c, 0x7f, 0x07, 0x7f, 0x00, 0x00, 0x00,
                                         0x03, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x78, 0x1b},
                                        4);
    const IndexEntry next_first = entry_from({0x7f, 0x00, 0x00, 0x00, 0x40, 0x7f, 0x00, 0x7f, 0x00, 0x00, 0x00,
                                              0x01, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x78, 0x3c});
    auto tree_with = [&](const IndexEntry& node_entry) {
        return jet::read_index_tree(file_with(L, 8, {{3, node(L, {node_entry}, 5)},
                                                    {4, leaf(L, {child_last}, 0, 5)},
                                                    {5, leaf(L, {next_first}, 4, 0)}}),
                                    L, 3, kOwner);
    };
    const auto healthy = tree_with(bound);
    EXPECT_TRUE(healthy.valid()) << healthy.issues.front().detail;
    EXPECT_EQ(healthy.entries.size(), 2u);
    EXPECT_TRUE(tree_with(node_entry(child_last, 4)).valid());
    // A bound that reaches the next child's first entry, or one below the child's last, is not.
    EXPECT_TRUE(has(tree_with(node_entry(next_first, 4)), IndexTreeIssueKind::NodeEntryMismatch));
    child_last_bytes[4] = 0x36;
    EXPECT_TRUE(has(tree_with(entry_from(child_last_bytes, 4)), IndexTreeIssueKind::NodeEntryMismatch));
}

TEST(IndexTree, ShapeDamageIsReported) {
    const auto& L = jet::kJet4Layout;
    auto a = entries(0, 10), b = entries(10, 10);
    {  // node entry that is not the child's last entry; broken leaf chain
        auto file = file_with(L, 8, {{3, node(L, {node_entry(a[3], 4)}, 5)}, {4, leaf(L, a)}, {5, leaf(L, b)}});
        auto tree = jet::read_index_tree(file, L, 3, kOwner);
        EXPECT_TRUE(has(tree, IndexTreeIssueKind::NodeEntryMismatch));
        EXPECT_TRUE(has(tree, IndexTreeIssueKind::LeafChain));
    }
    {  // leaves in the wrong order
        auto file = file_with(L, 8, {{3, node(L, {node_entry(b.back(), 4)}, 5)}, {4, leaf(L, b, 0, 5)}, {5, leaf(L, a, 4, 0)}});
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 3, kOwner), IndexTreeIssueKind::OutOfOrder));
    }
    {  // a page of another table, a missing page, a data page
        auto file = file_with(L, 8, {{3, node(L, {node_entry(a.back(), 4), node_entry(b.back(), 9)}, 5)},
                                     {4, leaf(L, a, 0, 0)}});
        auto tree = jet::read_index_tree(file, L, 3, kOwner + 1);
        EXPECT_TRUE(has(tree, IndexTreeIssueKind::WrongOwner));
        EXPECT_TRUE(has(tree, IndexTreeIssueKind::PageMissing));
        EXPECT_TRUE(has(tree, IndexTreeIssueKind::PageInvalid));  // page 5 is all zeros
    }
    {  // leaves at different depths
        auto file = file_with(L, 8, {{3, node(L, {node_entry(a.back(), 4)}, 5)}, {4, leaf(L, a, 0, 6)},
                                     {5, node(L, {node_entry(b.back(), 6)}, 0)}, {6, leaf(L, b, 4, 0)}});
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 3, kOwner), IndexTreeIssueKind::UnevenDepth));
    }
    {  // a node without children
        auto file = file_with(L, 8, {{3, node(L, {}, 0)}});
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 3, kOwner), IndexTreeIssueKind::EmptyNode));
    }
}

TEST(IndexTree, CyclesAndDepthEndTheWalk) {
    const auto& L = jet::kJet3Layout;
    auto a = entries(0, 5);
    {  // the tail points back at the root
        auto file = file_with(L, 6, {{3, node(L, {node_entry(a.back(), 4)}, 3)}, {4, leaf(L, a)}});
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 3, kOwner), IndexTreeIssueKind::Cycle));
    }
    {  // a chain of 60 nodes, each the only child of the previous
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;
        for (uint32_t n = 1; n <= 60; ++n) pages.push_back({n, node(L, {node_entry(a.back(), n + 1)}, 0)});
        pages.push_back({61, leaf(L, a)});
        auto file = file_with(L, 62, pages);
        auto tree = jet::read_index_tree(file, L, 1, kOwner);
        EXPECT_TRUE(has(tree, IndexTreeIssueKind::TooDeep));
    }
    {  // root pointer 0 and past the end
        auto file = file_with(L, 2, {});
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 0, kOwner), IndexTreeIssueKind::PageMissing));
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 99, kOwner), IndexTreeIssueKind::PageMissing));
    }
}

TEST(IndexTree, LoopsDepthAndFanOutReadEachPageABoundedNumberOfTimes) {
    const auto& L = jet::kJet4Layout;
    auto a = entries(0, 5);
    // Pages each walk reads, counted whatever it concludes.
    auto reads = [&](const jet::PageFile& file, uint32_t root) {
        std::vector<uint32_t> log;
        {
            jet::PageFile::ReadLog logging(file, &log);
            jet::read_index_tree(file, L, root, kOwner);
            jet::index_tree_pages(file, L, root);
        }
        return log.size();
    };
    {  // a root claiming a depth of 100: a chain of 100 nodes, each the only child of the last
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;
        for (uint32_t n = 1; n <= 100; ++n) pages.push_back({n, node(L, {node_entry(a.back(), n + 1)}, 0)});
        pages.push_back({101, leaf(L, a)});
        auto file = file_with(L, 102, pages);
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 1, kOwner), IndexTreeIssueKind::TooDeep));
        EXPECT_LE(reads(file, 1), 2u * 40);
    }
    {  // a loop through children: 1 -> 2 -> 3 -> 1
        auto file = file_with(L, 4, {{1, node(L, {node_entry(a.back(), 2)}, 0)},
                                     {2, node(L, {node_entry(a.back(), 3)}, 0)},
                                     {3, node(L, {node_entry(a.back(), 1)}, 0)}});
        EXPECT_TRUE(has(jet::read_index_tree(file, L, 1, kOwner), IndexTreeIssueKind::Cycle));
        EXPECT_LE(reads(file, 1), 2u * 4);
    }
    {  // fan-out: every entry of the root names one node, every entry of that node one leaf
        auto many = entries(0, 150);
        std::vector<IndexEntry> to_node, to_leaf;
        for (const auto& e : many) to_node.push_back(node_entry(e, 2)), to_leaf.push_back(node_entry(e, 3));
        auto file = file_with(L, 4, {{1, node(L, to_node, 0)}, {2, node(L, to_leaf, 0)}, {3, leaf(L, a)}});
        EXPECT_FALSE(jet::read_index_tree(file, L, 1, kOwner).valid());
        EXPECT_LE(reads(file, 1), 2u * 4);
    }
}

}  // namespace
