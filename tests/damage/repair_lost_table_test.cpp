// Tables whose catalog row was lost, on Jet 3, Jet 4 and ACE files: the row of a user
// table is flagged deleted (and the catalog's row count lowered), leaving its definition,
// maps, data and index pages whole. The repair finds the definition again and gives the
// table a new catalog row named Tabla_recuperada_<page>: mdbtools lists it and exports
// every row the table had, every other table is unchanged, and a second repair finds
// nothing to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "jet/engine.h"
#include "catalog_damage.h"
#include "corpus_support.h"
#include "jet/format/database.h"
#include "jet/check/lost_tables.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

const char* const kFiles[] = {
    "jackcess/V1997/test2V1997.mdb",      "jackcess/V1997/compIndexTestV1997.mdb",
    "jackcess/V1997/testIndexCodesV1997.mdb", "jackcess/V2000/test2V2000.mdb",
    "jackcess/V2003/delColTestV2003.mdb", "tika/testAccess2_2000.mdb",
    "jackcess/V2007/test2V2007.accdb",    "jackcess/V2010/compIndexTestV2010.accdb",
    "efcore-jet/JetProviderExceptionTests/Northwind.accdb",
};

std::string case_name(const ::testing::TestParamInfo<const char*>& info) {
    return test_name(info.param);
}

class LostTableRepair : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(LostTableRepair, FoundAgainUnderARecognisableName) {
    const fs::path intact = corpus_dir() / GetParam();
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const auto target = largest_user_table(intact);
    ASSERT_TRUE(target.has_value()) << "no user table mdbtools exports";
    std::vector<uint8_t> bytes = read_bytes(intact);
    ASSERT_TRUE(lose_catalog_row(bytes, target->tdef_page)) << target->name;

    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);
    bool listed = false;
    const auto before = mdb_tables(database, listed);
    ASSERT_EQ(std::count(before.begin(), before.end(), target->name), 0) << "the damage left the table listed";

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(),
                            [](const jet::Finding& f) { return f.code == "CAT_TABLE_LOST"; }));
    const std::string recovered = jet::lost_table_name(target->tdef_page);
    const RowTally tally = expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false,
                                               {{target->name, recovered}});
    EXPECT_EQ(tally.kept, tally.total);
    const auto after = mdb_tables(database, listed);
    EXPECT_EQ(std::count(after.begin(), after.end(), recovered), 1) << "mdb-tables does not list " << recovered;
    bool exported = false;
    std::cout << "[ figures  ] " << GetParam() << ": " << target->name << " -> " << recovered << ", "
              << mdb_rows(database, recovered, exported).size() << " rows\n";
    EXPECT_TRUE(report.recovery.empty()) << "nothing had to be dropped";
}

INSTANTIATE_TEST_SUITE_P(Corpus, LostTableRepair, ::testing::ValuesIn(kFiles), case_name);

// Access's own hidden tables are plain user tables to the file; lost, they are recognised
// by their columns and come back under their own names and flags, still hidden.
TEST(LostTableRepair, AccessOwnTablesComeBackUnderTheirNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"jackcess/V2000/compIndexTestV2000.mdb", "MSysAccessObjects"},
        {"jackcess/V2010/test2V2010.accdb", "MSysNavPaneGroups"},
        {"jackcess/V2007/test2V2007.accdb", "MSysAccessStorage"},
    };
    for (const auto& [file, table] : cases) {
        const fs::path intact = corpus_dir() / file;
        if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
        std::optional<jet::CatalogEntry> entry;
        {
            jet::Database db(intact);
            for (const jet::CatalogEntry& e : db.catalog().entries)
                if (e.name == table) entry = e;
        }
        ASSERT_TRUE(entry.has_value()) << file << " " << table;
        std::vector<uint8_t> bytes = read_bytes(intact);
        ASSERT_TRUE(lose_catalog_row(bytes, entry->tdef_page())) << table;
        TempFolder folder;
        const fs::path database = folder / intact.filename().string();
        write_bytes(database, bytes);
        ASSERT_NO_THROW(jet::repair_database(database)) << file;
        for (const jet::Finding& f : jet::check_database(database).findings)
            EXPECT_TRUE(jet::tolerated(f)) << file << ": " << f.code << ": " << f.description;
        jet::Database repaired(database);
        std::size_t found = 0;
        for (const jet::CatalogEntry& e : repaired.catalog().entries) {
            if (e.tdef_page() != entry->tdef_page() || e.type != 1) continue;
            ++found;
            EXPECT_EQ(e.name, table);
            EXPECT_EQ(e.flags, entry->flags) << table;
            EXPECT_EQ(e.parent_id, entry->parent_id) << table;
        }
        EXPECT_EQ(found, 1u) << file << " " << table;
    }
}

// With no room left on the catalog's pages the row goes on a new page the catalog's page
// map then lists.
TEST(LostTableRepair, RowOnANewCatalogPageWhenTheOthersAreFull) {
    for (const char* file : {"jackcess/V1997/test2V1997.mdb", "jackcess/V2000/test2V2000.mdb",
                             "jackcess/V2010/test2V2010.accdb"}) {
        const fs::path intact = corpus_dir() / file;
        if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
        if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
        const auto target = largest_user_table(intact);
        ASSERT_TRUE(target.has_value()) << file;
        std::vector<uint8_t> bytes = read_bytes(intact);
        ASSERT_TRUE(lose_catalog_row(bytes, target->tdef_page)) << file;
        ASSERT_GT(fill_catalog_pages(bytes), 0u) << file;
        TempFolder folder;
        const fs::path database = folder / intact.filename().string();
        write_bytes(database, bytes);
        jet::Report report;
        ASSERT_NO_THROW(report = jet::repair_database(database)) << file;
        EXPECT_GT(fs::file_size(database), bytes.size()) << file << ": no page was added";
        const std::string recovered = jet::lost_table_name(target->tdef_page);
        expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false, {{target->name, recovered}});
    }
}
