// Every index page in the corpus parses without issues.
#include <gtest/gtest.h>

#include <map>

#include "corpus.h"
#include "jet/header.h"
#include "jet/index_page.h"
#include "jet/page_file.h"

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
