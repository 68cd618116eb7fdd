// Table definitions beyond saving, on Jet 3, Jet 4 and ACE files: the largest user table's
// definition page is zeroed, or its column descriptors (or its second page) are overwritten
// with noise. The repair cannot read that table's rows any more, so it saves every live
// row's bytes and the definition to the recovery file, removes the table's catalog row and
// frees its pages; every other table reads as before, the check is clean and a second
// repair finds nothing to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>

#include "jet/engine.h"
#include "catalog_damage.h"
#include "corpus_support.h"
#include "injector.h"
#include "jet/base/bytes.h"
#include "jet/format/database.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

enum class DefinitionDamage { Zeroed, NoisyColumns, NoisyContinuation };

struct Case {
    const char* file;
    DefinitionDamage damage;
};

const char* damage_name(DefinitionDamage d) {
    switch (d) {
    case DefinitionDamage::Zeroed: return "zeroed";
    case DefinitionDamage::NoisyColumns: return "noisy_columns";
    case DefinitionDamage::NoisyContinuation: return "noisy_continuation";
    }
    return "";
}

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.file << " / " << damage_name(c.damage);
}

const char* const kFiles[] = {
    "jackcess/V1997/test2V1997.mdb",     "jackcess/V1997/compIndexTestV1997.mdb",
    "jackcess/V1997/testIndexCodesV1997.mdb", "jackcess/V2000/test2V2000.mdb",
    "jackcess/V2000/compIndexTestV2000.mdb", "tika/testAccess2_2000.mdb",
    "jackcess/V2007/test2V2007.accdb",   "jackcess/V2010/compIndexTestV2010.accdb",
    "efcore-jet/JetProviderExceptionTests/Northwind.accdb",
};

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const char* f : kFiles) {
        cases.push_back({f, DefinitionDamage::Zeroed});
        cases.push_back({f, DefinitionDamage::NoisyColumns});
        // MSP_PROJECTS, the largest table there, has a definition of two pages.
        if (std::string(f).find("test2") != std::string::npos) cases.push_back({f, DefinitionDamage::NoisyContinuation});
    }
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(std::string(info.param.file) + "_" + damage_name(info.param.damage));
}

// False when the definition has no continuation page to damage.
bool damage_definition(std::vector<uint8_t>& bytes, uint32_t tdef, DefinitionDamage kind) {
    const Layout l = layout_of(bytes);
    std::size_t at = std::size_t(tdef) * l.page_size;
    // Noise from the first column descriptor on (or past the header of the second page of
    // the definition): the header and its counts stay.
    std::size_t from = kind == DefinitionDamage::Zeroed ? 0 : (l.jet3 ? 0x2B : 0x3F);
    if (kind == DefinitionDamage::NoisyContinuation) {
        const uint32_t next = jet::u32_at(bytes, at + 4);
        if (next == 0 || std::size_t(next) * l.page_size >= bytes.size()) return false;
        at = std::size_t(next) * l.page_size;
        from = 8;
    }
    uint32_t state = 20261206u;
    for (std::size_t i = from; i < l.page_size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[at + i] = kind == DefinitionDamage::Zeroed ? 0 : uint8_t(state >> 16);
    }
    return true;
}

// Live rows of the table in the intact file, as the engine's reader finds them (mdbtools'
// export cannot be counted when a text holds its row delimiter).
std::size_t stored_rows(const fs::path& intact, uint32_t tdef) {
    jet::Database db(intact);
    const jet::TableDefResult& read = db.table_def(tdef);
    if (!read.table) return 0;
    std::size_t rows = 0;
    jet::Faults faults;
    db.scan_stored_rows(*read.table, "", [&](const jet::RowLocation&, jet::Bytes) { ++rows; }, faults);
    return rows;
}

class UnreadableTableRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(UnreadableTableRepair, RowsSavedTableDroppedPagesFreed) {
    const Case& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const auto target = largest_user_table(intact);
    ASSERT_TRUE(target.has_value()) << "no user table mdbtools exports";
    const std::vector<uint8_t> original = read_bytes(intact);
    std::vector<uint8_t> bytes = original;
    if (!damage_definition(bytes, target->tdef_page, c.damage))
        GTEST_SKIP() << target->name << "'s definition fits one page";

    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database)) << target->name;
    ASSERT_FALSE(report.backup.empty());
    expect_settled(database, report, bytes);

    // Every other table reads as before; the damaged one is gone from the catalog.
    const TableRows& before = mdbtools_rows(intact);
    bool listed = false;
    const auto now = mdb_tables(database, listed);
    EXPECT_TRUE(listed);
    EXPECT_EQ(std::count(now.begin(), now.end(), target->name), 0);
    EXPECT_EQ(now.size() + 1, before.size());
    for (const auto& [table, rows] : before) {
        if (table == target->name) continue;
        bool exported = false;
        EXPECT_EQ(mdb_rows(database, table, exported), rows) << table;
        EXPECT_TRUE(exported) << table;
    }

    // One recovery line per live row of the table, with its bytes, and one for the definition.
    ASSERT_FALSE(report.recovery.empty()) << "nothing was saved";
    std::ifstream saved(report.recovery);
    const std::string tag = "{\"tabla\":\"" + target->name + "\"";
    std::size_t rows = 0, definitions = 0;
    for (std::string line; std::getline(saved, line);) {
        if (line.rfind(tag, 0) != 0) continue;
        const bool row = line.find("\"fila\":") != std::string::npos;
        (row ? rows : definitions) += 1;
        if (row) {
            EXPECT_EQ(line.find("\"bytes\":\"\""), std::string::npos) << "a row saved without its bytes";
        }
    }
    EXPECT_EQ(rows, stored_rows(intact, target->tdef_page));
    std::cout << "[ figures  ] " << c.file << ": " << target->name << " dropped, " << rows
              << " rows saved as bytes\n";
    EXPECT_EQ(definitions, 1u);

    // Its data pages and definition page are free for Access to reuse.
    jet::Database after(database);
    const auto& free = after.free_pages();
    ASSERT_TRUE(free.has_value());
    std::vector<uint32_t> pages = data_pages_owned_by(original, target->tdef_page);
    pages.push_back(target->tdef_page);
    if (c.damage == DefinitionDamage::NoisyContinuation) pages.push_back(jet::u32_at(original, std::size_t(target->tdef_page) * layout_of(original).page_size + 4));
    for (uint32_t p : pages) EXPECT_TRUE((*free)[p]) << "page " << p << " of the dropped table is still in use";
}

INSTANTIATE_TEST_SUITE_P(Corpus, UnreadableTableRepair, ::testing::ValuesIn(sampled(all_cases())), case_name);
