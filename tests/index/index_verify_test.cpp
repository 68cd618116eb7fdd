// verify_table_indexes on real files: intact ones verify clean; a damaged copy reports
// the damage made to it.
#include <gtest/gtest.h>

#include <fstream>

#include "corpus.h"
#include "jet/format/database.h"
#include "jet/index/index_page.h"
#include "jet/index/index_verify.h"

namespace {

std::vector<jet::IndexVerdict> verify_first_user_table(const std::filesystem::path& path) {
    jet::Database db(path);
    auto tables = db.user_tables();
    EXPECT_FALSE(tables.empty());
    const auto& def = db.table_def(tables.front().tdef_page());
    EXPECT_TRUE(def.table);
    jet::Faults faults;
    return jet::verify_table_indexes(db, *def.table, tables.front().name, true, faults);
}

TEST(IndexVerify, IntactTableIsSound) {
    auto path = test::corpus_file("jackcess/V2000/compIndexTestV2000.mdb");
    REQUIRE_CORPUS_FILE(path);
    auto verdicts = verify_first_user_table(path);
    ASSERT_FALSE(verdicts.empty());
    for (const auto& v : verdicts) {
        EXPECT_TRUE(v.keys_checked) << v.reason;
        EXPECT_TRUE(v.sound()) << v.name;
        EXPECT_EQ(v.data.entries_checked, v.data.keys_identical);
        EXPECT_GT(v.data.entries_checked, 0u);
    }
}

TEST(IndexVerify, DamagedLeafIsReported) {
    auto source = test::corpus_file("jackcess/V2000/compIndexTestV2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    auto dir = std::filesystem::temp_directory_path() / "tarsolin_index_verify";
    std::filesystem::create_directories(dir);
    auto copy = dir / "damaged.mdb";
    std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);

    // Point the last entry of the first leaf at another row (its row byte is the last
    // byte of the entry area).
    uint32_t root = 0;
    {
        jet::Database db(copy);
        auto tables = db.user_tables();
        root = db.table_def(tables.front().tdef_page()).table->real_indexes.front().root_page;
        auto tree = jet::read_index_tree(db.file(), db.layout(), root, tables.front().tdef_page());
        ASSERT_FALSE(tree.leaves.empty());
        root = tree.leaves.front();
    }
    const auto& L = jet::kJet4Layout;
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<uint8_t> page(L.page_size);
    f.seekg(std::streamoff(root) * L.page_size);
    f.read(reinterpret_cast<char*>(page.data()), page.size());
    auto parsed = jet::parse_index_page(page, L);
    size_t last = L.ix_first_entry + parsed.data_end - 1;
    page[last] ^= 0x40;
    f.seekp(std::streamoff(root) * L.page_size);
    f.write(reinterpret_cast<const char*>(page.data()), page.size());
    f.close();

    auto verdicts = verify_first_user_table(copy);
    bool orphan = false, missing = false;
    for (const auto& v : verdicts)
        for (const auto& i : v.data.issues) {
            orphan |= i.kind == jet::IndexDataIssueKind::EntryForNoRow ||
                      i.kind == jet::IndexDataIssueKind::DuplicateEntry ||
                      i.kind == jet::IndexDataIssueKind::KeyMismatch;
            missing |= i.kind == jet::IndexDataIssueKind::MissingEntry;
        }
    EXPECT_TRUE(orphan);
    EXPECT_TRUE(missing);
    std::filesystem::remove_all(dir);
}

}  // namespace
