// Table definitions whose header counts were damaged (length, column and index counts,
// highest column number, variable slots), in a user table and in the catalog's own
// definition, on Jet 3, Jet 4 and ACE files: the repair re-derives the counts from what
// the definition holds, and the file comes back byte for byte as it was.
#include <gtest/gtest.h>

#include "corpus_support.h"
#include "injector.h"
#include "jet/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct CountDamage {
    const char* name;
    std::size_t jet3_offset;
    std::size_t jet4_offset;
    std::size_t width;
    int delta;
};

constexpr CountDamage kDamage[] = {
    {"TdefLength", 0x08, 0x08, 4, +7},    {"NumColsMore", 0x19, 0x2D, 2, +1}, {"NumColsLess", 0x19, 0x2D, 2, -1},
    {"NumRealIdxMore", 0x1F, 0x33, 4, +1}, {"NumIdxMore", 0x1B, 0x2F, 4, +1},  {"MaxColsLess", 0x15, 0x29, 2, -3},
    {"NumVarColsLess", 0x17, 0x2B, 2, -1},
};

const char* const kFiles[] = {
    "jackcess/V1997/test2V1997.mdb",   "jackcess/V1997/delColTestV1997.mdb", "jackcess/V1997/compIndexTestV1997.mdb",
    "jackcess/V2000/test2V2000.mdb",   "jackcess/V2003/delColTestV2003.mdb", "jackcess/V2007/test2V2007.accdb",
    "jackcess/V2010/test2V2010.accdb", "efcore-jet/JetProviderExceptionTests/Northwind.accdb",
};

struct Case {
    std::string file;
    CountDamage damage;
    bool catalog;  // the catalog's own definition (page 2) instead of a user table's
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.file << " / " << c.damage.name << (c.catalog ? " / catalog" : "");
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const char* file : kFiles)
        for (const CountDamage& d : kDamage) {
            cases.push_back({file, d, false});
            if (std::string(file).find("test2") != std::string::npos) cases.push_back({file, d, true});
        }
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.file + "_" + info.param.damage.name + (info.param.catalog ? "_catalog" : "");
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// Adds delta to a little-endian count; false when it would go below zero.
bool shift(std::vector<uint8_t>& bytes, std::size_t at, std::size_t width, int delta) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= uint32_t(bytes[at + i]) << (8 * i);
    if (delta < 0 && value < uint32_t(-delta)) return false;
    value = uint32_t(int64_t(value) + delta);
    for (std::size_t i = 0; i < width; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
    return true;
}

class TableDefRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(TableDefRepair, CountsComeBackFromTheDefinition) {
    const Case& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";

    const std::vector<uint8_t> original = read_bytes(intact);
    const Layout layout = layout_of(original);
    const auto tdef = c.catalog ? std::optional<uint32_t>(2) : first_user_table_def(original);
    ASSERT_TRUE(tdef.has_value());
    std::vector<uint8_t> bytes = original;
    const std::size_t at = std::size_t(*tdef) * layout.page_size + (layout.jet3 ? c.damage.jet3_offset : c.damage.jet4_offset);
    if (!shift(bytes, at, c.damage.width, c.damage.delta)) GTEST_SKIP() << "count already 0";

    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    if (report.backup.empty() && std::string(c.damage.name) == "MaxColsLess")
        GTEST_SKIP() << "no column numbered that high: a lower maximum is still consistent";
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false);
    EXPECT_EQ(read_bytes(database), original) << "the counts did not come back exactly";
}

INSTANTIATE_TEST_SUITE_P(Corpus, TableDefRepair, ::testing::ValuesIn(all_cases()), case_name);

namespace {

struct ChainCase {
    std::string file;
    bool past_end;  // the next pointer names a page past the end instead of a data page
};

void PrintTo(const ChainCase& c, std::ostream* out) { *out << c.file << (c.past_end ? " / past end" : " / data page"); }

std::vector<ChainCase> chain_cases() {
    std::vector<ChainCase> cases;
    for (const char* f : {"jackcess/V1997/test2V1997.mdb", "jackcess/V2000/test2V2000.mdb", "jackcess/V2003/test2V2003.mdb",
                          "jackcess/V2007/test2V2007.accdb", "jackcess/V2010/test2V2010.accdb"}) {
        cases.push_back({f, false});
        cases.push_back({f, true});
    }
    return cases;
}

std::string chain_case_name(const ::testing::TestParamInfo<ChainCase>& info) {
    std::string name = info.param.file + (info.param.past_end ? "_past_end" : "_data_page");
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class TableDefChainRepair : public ::testing::TestWithParam<ChainCase> {};

}  // namespace

// The next-page pointer of a two-page definition is damaged: the continuation page is
// found again (it is the only loose page that completes the definition).
TEST_P(TableDefChainRepair, ContinuationFoundAgain) {
    const ChainCase& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const std::vector<uint8_t> original = read_bytes(intact);
    const Layout l = layout_of(original);
    const std::size_t pages = original.size() / l.page_size;
    std::size_t first = 0;
    uint32_t data_page = 0;
    for (std::size_t p = 3; p < pages; ++p) {
        const std::size_t at = p * l.page_size;
        const uint8_t type = original[at + (l.jet3 ? 0x14 : 0x28)];
        if (!first && original[at] == 0x02 && original[at + 1] == 0x01 && (type == 'N' || type == 'S') &&
            (original[at + 4] | original[at + 5] | original[at + 6] | original[at + 7]))
            first = p;
        if (!data_page && original[at] == 0x01) data_page = uint32_t(p);
    }
    ASSERT_NE(first, 0u) << "no definition spanning two pages";
    std::vector<uint8_t> bytes = original;
    const uint32_t wrong = c.past_end ? uint32_t(pages + 50) : data_page;
    for (int i = 0; i < 4; ++i) bytes[first * l.page_size + 4 + i] = uint8_t(wrong >> (8 * i));

    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false);
    EXPECT_EQ(read_bytes(database), original);
}

INSTANTIATE_TEST_SUITE_P(Corpus, TableDefChainRepair, ::testing::ValuesIn(chain_cases()), chain_case_name);
