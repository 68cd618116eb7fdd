// Catalog rows whose Id names a page that is no table definition, on Jet 3, Jet 4 and ACE
// files. With the table's definition left owned by no row, the row is pointed back at it
// and the file comes back byte for byte; where several definitions are unowned (dropped
// tables' leftovers) the row is saved to the recovery file and dropped; the definitions
// it lost then come back as tables found again (Tabla_recuperada_<page>, or their own
// name for Access's own tables), and every other table still reads.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "jet/engine.h"
#include "catalog_damage.h"
#include "corpus_support.h"
#include "injector.h"
#include "jet/format/database.h"
#include "jet/check/lost_tables.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Case {
    std::string file;
    bool past_end;  // the Id names a page past the end instead of a data page
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file << (c.past_end ? " / past end" : " / data page"); }

const char* const kFiles[] = {
    "jackcess/V1997/test2V1997.mdb",   "jackcess/V1997/delColTestV1997.mdb", "jackcess/V2000/test2V2000.mdb",
    "jackcess/V2003/delColTestV2003.mdb", "jackcess/V2007/test2V2007.accdb", "jackcess/V2010/test2V2010.accdb",
    "efcore-jet/JetProviderExceptionTests/Northwind.accdb", "tika/testAccess2_2000.mdb",
};

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const char* f : kFiles) {
        cases.push_back({f, false});
        cases.push_back({f, true});
    }
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(info.param.file + (info.param.past_end ? "_past_end" : "_data_page"));
}

// Damages the Id of the first user table's catalog row; returns that table's TDEF page.
std::optional<uint32_t> damage_id(std::vector<uint8_t>& bytes, bool past_end) {
    const auto tdef = first_user_table_def(bytes);
    if (!tdef) return std::nullopt;
    const auto row = find_catalog_row(bytes, *tdef);
    const std::vector<uint32_t> data = data_pages_owned_by(bytes, *tdef);
    if (!row || data.empty()) return std::nullopt;
    const uint32_t pages = uint32_t(bytes.size() / layout_of(bytes).page_size);
    const uint32_t wrong = past_end ? pages + 100 : data.front();
    for (int i = 0; i < 4; ++i) bytes[row->id_at + i] = uint8_t(wrong >> (8 * i));
    return tdef;
}

class CatalogRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(CatalogRepair, RowPointedBackAtItsOnlyUnownedDefinition) {
    const Case& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const std::vector<uint8_t> original = read_bytes(intact);
    std::vector<uint8_t> bytes = original;
    ASSERT_TRUE(damage_id(bytes, c.past_end).has_value()) << "no user table with a catalog row and a data page";

    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false);
    EXPECT_EQ(read_bytes(database), original);
    EXPECT_TRUE(report.recovery.empty()) << "nothing had to be dropped";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CatalogRepair, ::testing::ValuesIn(all_cases()), case_name);

// Two rows damaged at once leave two definitions unowned: which row lost which cannot be
// told, so both rows are saved to the recovery file and dropped, and both definitions are
// found again under new names with all their rows; every other table reads as before.
TEST(CatalogRepairAmbiguous, RowsSavedThenDroppedOtherTablesIntact) {
    const fs::path intact = corpus_dir() / "jackcess/V1997/testIndexCodesV1997.mdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    std::vector<uint8_t> bytes = read_bytes(intact);
    const Layout l = layout_of(bytes);
    int damaged = 0;
    std::map<std::string, std::string> renamed;
    jet::Database reader(intact);
    for (uint32_t page = 3; page < bytes.size() / l.page_size && damaged < 2; ++page) {
        const std::size_t at = std::size_t(page) * l.page_size;
        if (bytes[at] != 0x02 || bytes[at + 1] != 0x01 || bytes[at + 0x14] != 'N') continue;
        const auto row = find_catalog_row(bytes, page);
        if (!row) continue;
        const uint32_t wrong = uint32_t(bytes.size() / l.page_size) + 100 + damaged;
        for (int i = 0; i < 4; ++i) bytes[row->id_at + i] = uint8_t(wrong >> (8 * i));
        // Access's own tables are recognised by their columns and keep their names.
        const auto& read = reader.table_def(page);
        const bool own = read.table && jet::access_table_shape(*read.table).has_value();
        for (const jet::CatalogEntry& e : reader.catalog().entries)
            if (e.type == 1 && e.tdef_page() == page) renamed[e.name] = own ? e.name : jet::lost_table_name(page);
        ++damaged;
    }
    ASSERT_EQ(renamed.size(), 2u);
    ASSERT_EQ(damaged, 2);

    TempFolder folder;
    const fs::path database = folder / "codes.mdb";
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    ASSERT_FALSE(report.backup.empty());
    expect_settled(database, report, bytes);

    ASSERT_FALSE(report.recovery.empty());
    std::ifstream saved(report.recovery);
    std::size_t lines = 0;
    for (std::string line; std::getline(saved, line);) {
        ++lines;
        EXPECT_NE(line.find("MSysObjects"), std::string::npos) << line;
    }
    EXPECT_EQ(lines, 2u);

    bool listed = false;
    const auto now = mdb_tables(database, listed);
    EXPECT_TRUE(listed);
    const TableRows& before = mdbtools_rows(intact);
    // The two definitions hit here belong to Access's own hidden tables: they come back
    // under their own names (mdb-tables still hides them) and with their rows.
    std::size_t hidden = 0;
    for (const auto& [table, name] : renamed) {
        EXPECT_EQ(table, name) << "one of Access's own tables came back under another name";
        if (!before.count(table) && table != name) ++hidden;
        bool exported = false, exported_before = false;
        EXPECT_EQ(mdb_rows(database, name, exported), mdb_rows(intact, table, exported_before)) << name;
        EXPECT_TRUE(exported && exported_before) << name;
    }
    EXPECT_EQ(now.size(), before.size() + hidden);
    for (const auto& [table, rows] : before) {
        if (renamed.count(table)) continue;
        bool exported = false;
        EXPECT_EQ(mdb_rows(database, table, exported), rows) << table;
        EXPECT_TRUE(exported) << table;
    }
}
