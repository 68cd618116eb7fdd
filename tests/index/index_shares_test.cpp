// The index verification deals rows in shares to bound its memory: with a share per page
// and an index per scan it must say exactly what one share of the whole table says, on
// intact files and on copies whose leaves point at wrong rows or hold wrong keys. Digests
// compared first (the default) must say the same again.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "corpus.h"
#include "jet/format/database.h"
#include "jet/index/index_page.h"
#include "jet/index/index_verify.h"
#include "rebuild_support.h"

namespace {

using Summary = std::vector<std::tuple<size_t, int, uint32_t, int, std::string>>;

// Every index of every user table: its tree issues, the data issues in order, the counts.
Summary verify_all(const std::filesystem::path& path, const jet::IndexVerifyLimits& limits) {
    Summary out;
    jet::Database db(path);
    for (const auto& t : db.user_tables()) {
        const auto& def = db.table_def(t.tdef_page());
        if (!def.table || !def.table->complete) continue;
        jet::Faults faults;
        for (const auto& v : jet::verify_table_indexes(db, *def.table, t.name, true, faults, limits)) {
            out.emplace_back(v.real_index, -1, v.tree.issues.size(), v.keys_checked, v.reason);
            out.emplace_back(v.data.entries_checked, -2, v.data.keys_identical, 0, "");
            for (const auto& i : v.data.issues)
                out.emplace_back(v.real_index, static_cast<int>(i.kind), i.row.page, i.row.row, i.detail);
        }
    }
    return out;
}

constexpr jet::IndexVerifyLimits kWhole{SIZE_MAX, SIZE_MAX, SIZE_MAX, false};
constexpr jet::IndexVerifyLimits kTiny{1, 1, SIZE_MAX, false};
constexpr jet::IndexVerifyLimits kDigestFirst{SIZE_MAX, SIZE_MAX, SIZE_MAX, true};

// XORs `mask` into the byte `from_end` bytes before the end of the entries of the first
// leaf of the first index of the first user table.
// The copy goes in `scratch`, a folder of this test's own (ctest runs the cases side by side).
std::filesystem::path damaged_leaf(const std::filesystem::path& source, const test::Scratch& scratch, const std::string& name,
                                   size_t from_end, uint8_t mask) {
    auto copy = scratch / name;
    std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    uint32_t leaf = 0;
    jet::Layout layout;
    {
        jet::Database db(copy);
        layout = db.layout();
        const auto tables = db.user_tables();
        const auto& def = db.table_def(tables.front().tdef_page());
        leaf = jet::read_index_tree(db.file(), db.layout(), def.table->real_indexes.front().root_page,
                                    tables.front().tdef_page())
                   .leaves.front();
    }
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<uint8_t> page(layout.page_size);
    f.seekg(std::streamoff(leaf) * layout.page_size);
    f.read(reinterpret_cast<char*>(page.data()), page.size());
    const auto parsed = jet::parse_index_page(page, layout);
    page[layout.ix_first_entry + parsed.data_end - from_end] ^= mask;
    f.seekp(std::streamoff(leaf) * layout.page_size);
    f.write(reinterpret_cast<const char*>(page.data()), page.size());
    return copy;
}

class IndexShares : public testing::TestWithParam<std::string> {};

TEST_P(IndexShares, ShareByPageSaysWhatTheWholeTableSays) {
    const auto source = test::corpus_file(GetParam());
    REQUIRE_CORPUS_FILE(source);
    const test::Scratch scratch;
    std::vector<std::filesystem::path> files{source};
    // The last entry's row byte (entries naming other rows), a key byte before its row
    // pointer (a key that differs from its row's).
    files.push_back(damaged_leaf(source, scratch, "row.db", 1, 0x40));
    files.push_back(damaged_leaf(source, scratch, "key.db", 5, 0x11));
    Summary intact;
    for (const auto& file : files) {
        const Summary whole = verify_all(file, kWhole);
        EXPECT_FALSE(whole.empty());
        if (file == source) intact = whole;
        else EXPECT_NE(whole, intact) << "the damage went unseen in " << file;
        EXPECT_EQ(whole, verify_all(file, kTiny)) << file;
        EXPECT_EQ(whole, verify_all(file, kDigestFirst)) << file;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, IndexShares,
                         testing::Values("jackcess/V2000/compIndexTestV2000.mdb", "jackcess/V2003/indexTestV2003.mdb",
                                         "jackcess/V2010/bigIndexTestV2010.accdb",
                                         "efcore-jet/JetProviderExceptionTests/Northwind.accdb",
                                         "ucanaccess/corrupted.accdb"));

}  // namespace
