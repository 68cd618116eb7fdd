// Every index page in the corpus parses without issues.
#include <gtest/gtest.h>

#include <map>

#include "corpus.h"
#include "jet/format/header.h"
#include "jet/index/index_page.h"
#include "jet/file/page_file.h"

namespace {

TEST(IndexPageCorpus, EveryIndexPageParsesClean) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    size_t pages = 0, entries = 0;
    for (const auto& path : files) {
        jet::PageFile file(path);
        auto prefix = file.read_prefix(3 * 4096);
        auto header = jet::parse_header(prefix);
        if (!header.header) continue;
        const jet::Layout& layout = *header.header->layout;
        file.set_page_size(layout.page_size);
        for (uint32_t n = 1; n < file.page_count(); ++n) {
            auto page = file.page(n);
            if (page.empty() || (page[0] != 3 && page[0] != 4) || page[1] != 1) continue;
            auto parsed = jet::parse_index_page(page, layout);
            ++pages;
            entries += parsed.entries.size();
            for (const auto& issue : parsed.issues)
                ADD_FAILURE() << path << " page " << n << ": " << issue.detail;
        }
    }
    std::cout << "index pages parsed: " << pages << ", entries: " << entries << "\n";
}

}  // namespace

namespace {

// Rewriting each corpus index page from its parsed entries (with Access's prefix length)
// gives back what Access wrote, apart from bytes past the entries; with the longest
// prefix the page parses back to the same entries.
TEST(IndexPageCorpus, RewritingEveryPageReproducesIt) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    size_t pages = 0, identical = 0;
    std::map<std::string, size_t> differences;
    for (const auto& path : files) {
        jet::PageFile file(path);
        auto header = jet::parse_header(file.read_prefix(3 * 4096));
        if (!header.header || header.header->encrypted()) continue;
        const jet::Layout& layout = *header.header->layout;
        file.set_page_size(layout.page_size);
        for (uint32_t n = 1; n < file.page_count(); ++n) {
            auto page = file.page(n);
            if (page.empty() || (page[0] != 3 && page[0] != 4) || page[1] != 1) continue;
            auto parsed = jet::parse_index_page(page, layout);
            jet::IndexPageSpec spec{parsed.leaf, parsed.owner, parsed.prev, parsed.next, parsed.tail,
                                    parsed.entries, parsed.prefix_length};
            auto rebuilt = jet::write_index_page(spec, layout);
            ASSERT_EQ(rebuilt.size(), page.size()) << path << " page " << n;
            ++pages;
            size_t used = layout.ix_first_entry + parsed.data_end;
            bool same = true;
            for (size_t i = 0; i < used; ++i) {
                if (rebuilt[i] == page[i]) continue;
                same = false;
                std::string where = i < layout.ix_bitmask ? "header byte " + std::to_string(i)
                                    : i < layout.ix_first_entry ? "bitmask"
                                                                : "entries";
                ++differences[where];
            }
            if (same) ++identical;
            spec.prefix_length.reset();
            auto longest = jet::write_index_page(spec, layout);
            auto reparsed = jet::parse_index_page(longest, layout);
            EXPECT_TRUE(reparsed.valid()) << path << " page " << n;
            ASSERT_EQ(reparsed.entries.size(), parsed.entries.size());
            for (size_t i = 0; i < parsed.entries.size(); ++i) {
                EXPECT_EQ(reparsed.entries[i].key, parsed.entries[i].key);
                EXPECT_EQ(reparsed.entries[i].row, parsed.entries[i].row);
                EXPECT_EQ(reparsed.entries[i].child, parsed.entries[i].child);
            }
        }
    }
    std::cout << "index pages rewritten: " << pages << ", identical up to the end of the entries: "
              << identical << "\n";
    for (const auto& [where, count] : differences) std::cout << "  differs in " << where << ": " << count << "\n";
    EXPECT_EQ(identical, pages);
}

}  // namespace
