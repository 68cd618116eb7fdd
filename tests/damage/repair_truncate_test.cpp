// Files cut short at a page boundary: what the cut pages held is gone, and every pointer
// into them must be mended before the repair adds a page there, or the pointer would name
// the new page. Each case is one that went wrong that way.
#include <gtest/gtest.h>

#include <set>

#include "jet/engine.h"
#include "corpus_support.h"
#include "jet/format/database.h"
#include "jet/repair/repair.h"
#include "jet/format/usage_map.h"
#include "repair_outcome.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Cut {
    const char* file;
    uint32_t pages_kept;
    const char* why;
};

void PrintTo(const Cut& c, std::ostream* out) { *out << c.file << " cut to " << c.pages_kept << " pages"; }

constexpr Cut kCuts[] = {
    // The map rows of several system tables lived on the cut pages.
    {"jackcess/empty2007.accdb", 70, "table, long-value and index maps lost"},
    {"jackcess/V2007/delColTestV2007.accdb", 40, "long-value maps lost"},
    {"mdb-reader/password/data/V2003_no-password.mdb", 26, "table and long-value maps lost"},
    // Index roots and index-map bits naming cut pages: an index rebuilt first adds pages
    // with those numbers, which the other index must not take for its own.
    {"efcore-jet/JetProviderExceptionTests/Northwind.accdb", 264, "index root past the end"},
    {"jackcess/V2000/compIndexTestV2000.mdb", 26, "index map bits past the end"},
    {"efcore-jet/EFCore.Jet.FunctionalTests/NorthwindEF7.accdb", 179, "index root past the end"},
    // The catalog lost every row but its definition survives: its own count and indexes.
    {"jackcess/emptyJet4.mdb", 16, "catalog rows lost"},
    {"jackcess/V1997/delColTestV1997.mdb", 17, "catalog rows lost (Jet 3)"},
};

uint32_t page_size_of(const std::vector<uint8_t>& bytes) { return bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096; }

// Tables (by definition page) whose owned-page map row lies on a page past the end.
std::set<uint32_t> tables_with_lost_maps(const fs::path& database) {
    jet::Database db(database);
    std::set<uint32_t> out;
    const uint32_t pages = db.file().page_count();
    for (const jet::CatalogEntry& e : db.catalog().entries) {
        if (e.type != jet::object_type::table || e.tdef_page() >= pages) continue;
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (def.table && def.table->complete && (def.table->owned_map >> 8) >= pages) out.insert(e.tdef_page());
    }
    return out;
}

class TruncatedRepair : public ::testing::TestWithParam<Cut> {};

}  // namespace

TEST_P(TruncatedRepair, EveryPointerIntoTheCutIsMended) {
    const Cut& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    std::vector<uint8_t> bytes = read_bytes(intact);
    const uint32_t page_size = page_size_of(bytes);
    ASSERT_GT(bytes.size(), std::size_t(c.pages_kept) * page_size);
    bytes.resize(std::size_t(c.pages_kept) * page_size);

    TempFolder folder;
    const fs::path database = folder / fs::path(c.file).filename().string();
    write_bytes(database, bytes);
    const std::set<uint32_t> lost_maps = tables_with_lost_maps(database);

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database)) << c.why;
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/true, {}, /*may_lose_tables=*/true);

    // A table whose map row was cut away has a new one, on a map host page of its own.
    jet::Database db(database);
    for (uint32_t tdef : lost_maps) {
        const jet::TableDefResult& def = db.table_def(tdef);
        ASSERT_TRUE(def.table) << "table at page " << tdef;
        const uint32_t host = def.table->owned_map >> 8;
        EXPECT_GE(host, c.pages_kept) << "table at page " << tdef << " still points into the cut";
        ASSERT_LT(host, db.file().page_count());
        const jet::PageRef page = db.file().fetch(host);
        ASSERT_EQ(page.size(), page_size);
        EXPECT_EQ(page[0], jet::page_type::data);
        EXPECT_EQ(jet::u32_at(page.bytes(), 4), 0u) << "a map host page has no owner";
        EXPECT_TRUE(jet::read_usage_map(db.file(), db.layout(), def.table->owned_map).readable);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, TruncatedRepair, ::testing::ValuesIn(kCuts),
                         [](const ::testing::TestParamInfo<Cut>& info) {
                             std::string name = std::string(info.param.file) + "_" + std::to_string(info.param.pages_kept);
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// The cut half page is saved to the recovery file, raw, before the file is cut back.
TEST(TruncatedRepair, PartialLastPageIsSavedThenCut) {
    const fs::path intact = corpus_dir() / "jackcess/V2003/overflowTestV2003.mdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    std::vector<uint8_t> bytes = read_bytes(intact);
    bytes.resize(bytes.size() - 1000);

    TempFolder folder;
    const fs::path database = folder / "overflowTestV2003.mdb";
    write_bytes(database, bytes);
    const jet::Report report = jet::repair_database(database);
    EXPECT_EQ(fs::file_size(database) % 4096, 0u);
    EXPECT_EQ(fs::file_size(database), bytes.size() - bytes.size() % 4096);
    ASSERT_FALSE(report.recovery.empty());
    const std::vector<uint8_t> saved = read_bytes(report.recovery);
    const std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("\"pagina\":" + std::to_string(bytes.size() / 4096)), std::string::npos) << text.substr(0, 300);
}
