// Rebuild against what Access wrote: for every index of every corpus table the entries
// built from the rows equal Access's, the tree we would pack is compared page by page
// with Access's, and after rebuilding every index of a file in memory the file still
// verifies clean and holds the same entries.
#include <gtest/gtest.h>

#include <iostream>
#include <map>

#include "corpus.h"
#include "corpus_tables.h"
#include "jet/engine.h"
#include "jet/index/index.h"
#include "jet/index/index_build.h"
#include "jet/index/index_rebuild.h"
#include "jet/index/index_verify.h"
#include "rebuild_support.h"

namespace {

bool known_duplicate(const std::filesystem::path& path, uint32_t tdef) {
    return path.filename() == "corrupted.accdb" && tdef == 132;
}

struct Shape {
    size_t indexes = 0, same_entries = 0, same_leaf_split = 0, pages = 0, identical_pages = 0, identical_data = 0, counts_equal = 0;
};

TEST(IndexRebuildCorpus, BuiltTreesMatchAccess) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    std::map<std::string, Shape> by_format;
    size_t duplicates_found = 0;
    std::map<std::string, size_t> diffs;
    for (const auto& path : files) {
        std::optional<jet::Database> db;
        if (!test::open_database(db, path)) continue;  // encrypted
        const jet::Layout& layout = db->layout();
        Shape& shape = by_format[test::format_name(db->header().version_byte)];
        for (uint32_t tdef : test::table_def_heads(db->file(), layout)) {
            const auto& parsed = db->table_def(tdef);
            if (!parsed.table || !parsed.table->complete) continue;
            const jet::TableDef& table = *parsed.table;
            std::vector<size_t> all(table.real_indexes.size());
            for (size_t i = 0; i < all.size(); ++i) all[i] = i;
            auto expected = jet::expected_index_entries(*db, table, "t", all);
            for (const auto& e : expected) {
                if (!e.ok) continue;
                const std::string where = path.string() + " tdef " + std::to_string(tdef) + " index " +
                                          std::to_string(e.real_index);
                const jet::RealIndex& ri = table.real_indexes[e.real_index];
                auto tree = jet::read_index_tree(db->file(), layout, ri.root_page, tdef);
                ++shape.indexes;
                shape.counts_equal += ri.entry_count == tree.entries.size();
                const bool same = test::same_entries(tree.entries.to_entries(), e.entries);
                EXPECT_TRUE(same || known_duplicate(path, tdef)) << where;
                if (e.duplicate_keys) {
                    EXPECT_TRUE(known_duplicate(path, tdef)) << where;
                    ++duplicates_found;
                }
                if (!same) continue;
                ++shape.same_entries;
                auto built = jet::build_index(e.entries, layout, tdef);
                shape.pages += tree.pages.size();
                if (built.pages.size() != tree.pages.size()) continue;
                size_t leaf = 0;
                bool split = built.leaf_count == tree.leaves.size();
                for (const auto& p : built.pages) {
                    if (!p.spec.leaf || !split) continue;
                    auto access = jet::parse_index_page(db->file().page(tree.leaves[leaf++]), layout);
                    split = access.entries.size() == p.spec.entries.size();
                }
                shape.same_leaf_split += split;
                if (!split) continue;
                auto pages = jet::render_index(built, tree.pages, layout);
                for (size_t i = 0; i < pages.size(); ++i) {
                    auto access = db->file().page(tree.pages[i]);
                    const bool identical = std::equal(pages[i].begin(), pages[i].end(), access.begin(), access.end());
                    shape.identical_pages += identical;
                    if (identical) continue;
                    auto ours = jet::parse_index_page(pages[i], layout);
                    auto theirs = jet::parse_index_page(access, layout);
                    size_t first = 0;
                    while (pages[i][first] == access[first]) ++first;
                    std::string why = ours.prefix_length != theirs.prefix_length ? "prefix" : first >= layout.ix_first_entry + theirs.data_end ? "after data" : "at " + std::to_string(first);
                    ++diffs[why];
                    shape.identical_data += why == "after data";
                }
            }
        }
    }
    EXPECT_EQ(duplicates_found, 1u);
    for (const auto& [d, n] : diffs) std::cout << "  differ " << d << ": " << n << "\n";
    std::cout << "format: indexes, same entries, same leaf split, index pages, pages byte-identical, identical but for stale bytes after the entries, "
                 "stored entry count = entries\n";
    for (const auto& [f, s] : by_format)
        std::cout << "  " << f << ": " << s.indexes << ", " << s.same_entries << ", " << s.same_leaf_split << ", "
                  << s.pages << ", " << s.identical_pages << ", " << s.identical_data << ", " << s.counts_equal << "\n";
}

TEST(IndexRebuildCorpus, EveryIndexRebuiltInPlaceVerifiesAndKeepsItsEntries) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    test::Scratch scratch;
    size_t rebuilt = 0, refused = 0, files_done = 0, appended = 0, freed = 0;
    std::map<std::string, size_t> reasons;
    for (const auto& path : files) {
        std::optional<jet::Database> db;
        if (!test::open_database(db, path)) continue;  // encrypted
        const auto before = test::all_index_entries(*db);
        jet::MemoryPageStore store(test::file_bytes(path), db->layout().page_size);
        // The same rebuild with keys sorted in runs of a few keys on disk writes the same bytes.
        jet::MemoryPageStore in_runs(test::file_bytes(path), db->layout().page_size);
        for (uint32_t tdef : test::table_def_heads(db->file(), db->layout())) {
            const auto& parsed = db->table_def(tdef);
            if (!parsed.table || !parsed.table->complete) continue;
            std::vector<size_t> all(parsed.table->real_indexes.size());
            for (size_t i = 0; i < all.size(); ++i) all[i] = i;
            jet::rebuild_table_indexes(*db, in_runs, *parsed.table, "t", all, {256 * all.size(), scratch / "claves"});
            for (const auto& r : jet::rebuild_table_indexes(*db, store, *parsed.table, "t", all)) {
                if (r.rebuilt) {
                    ++rebuilt;
                    appended += r.pages_appended;
                    freed += r.pages_freed;
                } else {
                    ++refused;
                    ++reasons[r.failure.substr(r.failure.find(": ") + 2)];
                }
            }
        }
        EXPECT_TRUE(in_runs.bytes() == store.bytes()) << path;
        const auto out = scratch / ("rebuilt" + path.extension().string());
        test::put_file(out, store.bytes());
        jet::Database after(out);
        const auto entries = test::all_index_entries(after);
        for (const auto& [key, list] : before)
            EXPECT_TRUE(test::same_entries(list, entries.at(key))) << path << " tdef " << key.first << " index " << key.second;
        for (uint32_t tdef : test::table_def_heads(after.file(), after.layout())) {
            const auto& parsed = after.table_def(tdef);
            if (!parsed.table || !parsed.table->complete) continue;
            jet::Faults faults;
            for (const auto& v : jet::verify_table_indexes(after, *parsed.table, "t", true, faults)) {
                if (known_duplicate(path, tdef) && v.tree.valid()) continue;
                EXPECT_TRUE(v.sound()) << path << " tdef " << tdef << " index " << v.real_index << " "
                                       << (v.tree.issues.empty() ? "" : v.tree.issues.front().detail) << " unmapped "
                                       << v.unmapped_pages.size() << " stray " << v.stray_pages.size();
                if (v.keys_checked) EXPECT_EQ(v.data.entries_checked, v.data.keys_identical) << path << " tdef " << tdef;
            }
        }
        ++files_done;
    }
    std::cout << "files: " << files_done << ", indexes rebuilt: " << rebuilt << ", refused: " << refused
              << ", pages appended: " << appended << ", freed: " << freed << "\n";
    for (const auto& [why, n] : reasons) std::cout << "  refused x" << n << ": " << why << "\n";
}

}  // namespace

namespace {

// The check's index pass on intact files: nothing but the real duplicate key that
// corrupted.accdb holds.
TEST(IndexCheckCorpus, IntactFilesHaveNoIndexFindings) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    size_t checked = 0, duplicate_findings = 0;
    for (const auto& path : files) {
        jet::Report report;
        try {
            report = jet::check_database(path);
        } catch (const jet::EngineError&) {
            continue;  // encrypted
        }
        ++checked;
        for (const auto& f : report.findings) {
            if (f.code.rfind("IDX_", 0) != 0) continue;
            if (path.filename() == "corrupted.accdb" && f.code == "IDX_UNIQUE_DUPLICATE") {
                ++duplicate_findings;
                continue;
            }
            ADD_FAILURE() << path << ": " << f.code << " " << f.object << ": " << f.description;
        }
    }
    EXPECT_EQ(duplicate_findings, 1u);
    std::cout << "files checked: " << checked << "\n";
}

}  // namespace
