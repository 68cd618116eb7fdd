// Tables whose catalog row was lost, on Jet 3, Jet 4 and ACE files: the row of a user
// table is flagged deleted (and the catalog's row count lowered), leaving its definition,
// maps, data and index pages whole. The repair finds the definition again and gives the
// table a new catalog row named Tabla_recuperada_<page>: mdbtools lists it and exports
// every row the table had, every other table is unchanged, and a second repair finds
// nothing to do.
#include <gtest/gtest.h>

#include <algorithm>

#include "catalog_damage.h"
#include "corpus_support.h"
#include "jet/database.h"
#include "jet/lost_tables.h"
#include "jet/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"

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
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

struct Target {
    std::string name;
    uint32_t tdef_page = 0;
};

// The user table with the most rows (as mdbtools reads them), its definition page from
// the engine's catalog.
std::optional<Target> biggest_table(const fs::path& intact) {
    const TableRows& rows = mdbtools_rows(intact);
    jet::Database db(intact);
    std::optional<Target> best;
    std::size_t most = 0;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const auto it = rows.find(e.name);
        if (e.linked() || it == rows.end()) continue;
        if (!best || it->second.size() > most) {
            best = Target{e.name, e.tdef_page()};
            most = it->second.size();
        }
    }
    return best;
}

class LostTableRepair : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(LostTableRepair, FoundAgainUnderARecognisableName) {
    const fs::path intact = corpus_dir() / GetParam();
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const auto target = biggest_table(intact);
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
    EXPECT_TRUE(report.recovery.empty()) << "nothing had to be dropped";
}

INSTANTIATE_TEST_SUITE_P(Corpus, LostTableRepair, ::testing::ValuesIn(kFiles), case_name);
