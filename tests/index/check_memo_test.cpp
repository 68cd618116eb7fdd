// The re-check of a repaired copy takes over what the row walk and the index check found
// in a table from the first check only while none of the pages behind it was written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "corpus.h"
#include "jet/check/check_memo.h"
#include "jet/format/database.h"
#include "jet/index/index.h"
#include "jet/index/index_page.h"
#include "jet/file/native_file.h"

namespace {

namespace fs = std::filesystem;

// A copy of its own per test: ctest runs the tests of this file side by side.
struct Copy {
    fs::path dir = fs::temp_directory_path() /
                   ("tarsolin_check_memo_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                    "_" + std::to_string(::getpid()));
    fs::path file = dir / "copy.mdb";
    explicit Copy(const fs::path& source) {
        fs::create_directories(dir);
        fs::copy_file(source, file, fs::copy_options::overwrite_existing);
    }
    ~Copy() { fs::remove_all(dir); }
};

// Points the last entry of the first leaf of the first user table's first index at
// another row; returns that leaf's page number.
uint32_t damage_first_leaf(const fs::path& file) {
    uint32_t leaf = 0;
    {
        jet::Database db(file);
        const auto tables = db.user_tables();
        const uint32_t tdef = tables.front().tdef_page();
        const uint32_t root = db.table_def(tdef).table->real_indexes.front().root_page;
        leaf = jet::read_index_tree(db.file(), db.layout(), root, tdef).leaves.front();
    }
    const auto& L = jet::kJet4Layout;
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<uint8_t> page(L.page_size);
    f.seekg(std::streamoff(leaf) * L.page_size);
    f.read(reinterpret_cast<char*>(page.data()), page.size());
    page[L.ix_first_entry + jet::parse_index_page(page, L).data_end - 1] ^= 0x40;
    f.seekp(std::streamoff(leaf) * L.page_size);
    f.write(reinterpret_cast<const char*>(page.data()), page.size());
    return leaf;
}

// Sends the first row of the first user table's first data page outside its page;
// returns that page's number.
uint32_t damage_first_row(const fs::path& file) {
    uint32_t data_page = 0;
    {
        jet::Database db(file);
        const auto tables = db.user_tables();
        jet::Faults faults;
        data_page = db.data_pages(*db.table_def(tables.front().tdef_page()).table, "t", faults).front();
    }
    const auto& L = jet::kJet4Layout;
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    const uint8_t outside[2] = {0xFF, 0x1F};
    f.seekp(std::streamoff(data_page) * L.page_size + L.data_header_size);
    f.write(reinterpret_cast<const char*>(outside), 2);
    return data_page;
}

// Points the first index of the first user table at a page past the end of the file;
// returns the definition's page.
uint32_t damage_first_index_root(const fs::path& file) {
    uint32_t tdef = 0;
    size_t at = 0;
    {
        jet::Database db(file);
        tdef = db.user_tables().front().tdef_page();
        const jet::TableDef& def = *db.table_def(tdef).table;
        at = def.real_indexes.front().descriptor_offset + db.layout().ri_root_page;
        EXPECT_LT(at + 4, db.layout().page_size) << "the root pointer is expected on the first page";
    }
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    const uint8_t far[4] = {0x00, 0x00, 0xF0, 0x00};
    f.seekp(std::streamoff(tdef) * jet::kJet4Layout.page_size + std::streamoff(at));
    f.write(reinterpret_cast<const char*>(far), 4);
    return tdef;
}

size_t findings_of(const jet::Report& r, const std::string& code) {
    size_t n = 0;
    for (const auto& f : r.findings) n += f.code == code;
    return n;
}

size_t index_findings(const jet::Report& r) {
    size_t n = 0;
    for (const auto& f : r.findings) n += f.code.rfind("IDX_", 0) == 0;
    return n;
}

std::vector<bool> marked(uint32_t page) {
    std::vector<bool> written(page + 1, false);
    written[page] = true;
    return written;
}

TEST(CheckMemo, WrittenPagesAreVerifiedAgainAndOthersTakenOver) {
    const auto source = test::corpus_file("jackcess/V2000/compIndexTestV2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    Copy copy(source);
    jet::CheckMemo memo;
    {
        const auto file = jet::NativeFile::open(copy.file, jet::NativeFile::Mode::Read);
        ASSERT_EQ(index_findings(jet::check_open_file(file, memo)), 0u);
    }
    const uint32_t leaf = damage_first_leaf(copy.file);
    const auto file = jet::NativeFile::open(copy.file, jet::NativeFile::Mode::Read);
    const size_t full = index_findings(jet::check_open_file(file));
    ASSERT_GT(full, 0u);

    // Told the leaf was written, the re-check sees what a full check sees.
    memo.recheck_with(marked(leaf));
    EXPECT_EQ(index_findings(jet::check_open_file(file, memo)), full);
    // Page 0 decides how everything decodes: written, nothing is taken over.
    memo.recheck_with(marked(0));
    EXPECT_EQ(index_findings(jet::check_open_file(file, memo)), full);
    // Told nothing was written, the first verdict stands (which is why every writer of the
    // copy must report its pages).
    memo.recheck_with({});
    EXPECT_EQ(index_findings(jet::check_open_file(file, memo)), 0u);
}

// Records a check of the intact copy, damages it with `damage` (which returns the page it
// wrote) and re-checks: the finding `code` comes back when that page is marked written,
// and the first verdict stands when nothing is.
void expect_reuse_rule(uint32_t (*damage)(const fs::path&), const std::string& code) {
    const auto source = test::corpus_file("jackcess/V2000/compIndexTestV2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    Copy copy(source);
    jet::CheckMemo memo;
    {
        const auto file = jet::NativeFile::open(copy.file, jet::NativeFile::Mode::Read);
        ASSERT_EQ(jet::check_open_file(file, memo).findings.size(), 0u);
    }
    const uint32_t page = damage(copy.file);
    const auto file = jet::NativeFile::open(copy.file, jet::NativeFile::Mode::Read);
    const size_t full = findings_of(jet::check_open_file(file), code);
    ASSERT_GT(full, 0u);
    memo.recheck_with(marked(page));
    EXPECT_EQ(findings_of(jet::check_open_file(file, memo), code), full);
    memo.recheck_with({});
    EXPECT_EQ(findings_of(jet::check_open_file(file, memo), code), 0u);
}

TEST(CheckMemo, RowWalksFollowTheSameRule) { expect_reuse_rule(damage_first_row, "ROW_OFFSET_BOUNDS"); }

TEST(CheckMemo, DefinitionChecksFollowTheSameRule) {
    expect_reuse_rule(damage_first_index_root, "TDEF_INDEX_ROOT");
}

TEST(CheckMemo, TakenOverFindingsEqualTheFirstOnes) {
    const auto source = test::corpus_file("jackcess/V2000/compIndexTestV2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    Copy copy(source);
    damage_first_leaf(copy.file);
    damage_first_row(copy.file);
    damage_first_index_root(copy.file);
    const auto file = jet::NativeFile::open(copy.file, jet::NativeFile::Mode::Read);
    jet::CheckMemo memo;
    const jet::Report first = jet::check_open_file(file, memo);
    ASSERT_GT(index_findings(first), 0u);
    ASSERT_GT(findings_of(first, "ROW_OFFSET_BOUNDS"), 0u);
    ASSERT_GT(findings_of(first, "TDEF_INDEX_ROOT"), 0u);
    memo.recheck_with({});
    const jet::Report again = jet::check_open_file(file, memo);
    ASSERT_EQ(again.findings.size(), first.findings.size());
    for (size_t i = 0; i < first.findings.size(); ++i) {
        EXPECT_EQ(again.findings[i].code, first.findings[i].code);
        EXPECT_EQ(again.findings[i].object, first.findings[i].object);
        EXPECT_EQ(again.findings[i].description, first.findings[i].description);
    }
}

}  // namespace
