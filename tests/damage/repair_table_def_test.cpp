// Table definitions whose header counts were damaged (length, column and index counts,
// highest column number, variable slots), in a user table and in the catalog's own
// definition, on Jet 3, Jet 4 and ACE files: the repair re-derives the counts from what
// the definition holds, and the file comes back byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "jet/engine.h"
#include "corpus_support.h"
#include "injector.h"
#include "jet/format/database.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "table_def_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

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
    return test_name(info.param.file + "_" + info.param.damage.name + (info.param.catalog ? "_catalog" : ""));
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

INSTANTIATE_TEST_SUITE_P(Corpus, TableDefRepair, ::testing::ValuesIn(sampled(all_cases())), case_name);

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
    return test_name(info.param.file + (info.param.past_end ? "_past_end" : "_data_page"));
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

namespace {

// Damage to one field of a table definition's indexes or chain, found by the test's own
// reading of the format (table_def_damage.h), in an Access system table or a user table.
enum class FieldDamage {
    IndexColumnGone,    // a real index's first column names a column the table lacks
    LogicalIndexGone,   // a logical index names a real index past the last one
    IndexMapType,       // the index map row's type byte is unknown
    IndexMapPastEnd,    // the index map marks a page past the end of the file
    IndexMapMissesRoot, // the index map no longer lists the index's root page
    ChainPastEnd,       // a one-page definition's next-page pointer names a page past the end
    ChainToDataPage,    // ... names a data page
    ChainToZeroedPage,  // ... names a page of zeros (never used, or wiped; added at the end when none)
    ChainToOtherPart,   // ... names a continuation page (another definition's, or one left loose)
    ColumnNumberGone,   // the last column's number becomes one no table can have
    VarSlotGone,        // the last variable column's slot becomes one no table can have
    TerminatorGone,     // the FF FF that ends the definition is overwritten
    NameLengthGone,     // the first column name's length is changed
    FixedOffsetGone,    // the last fixed column's offset becomes the first one's
    LvColumnGone,       // a long-value map entry names a column that does not exist
    VarSlotShared,      // the last variable column's slot becomes the first one's
    AutonumberNegative, // the stored autonumber seed's top byte set: a negative seed
};

const char* field_damage_name(FieldDamage d) {
    switch (d) {
        case FieldDamage::IndexColumnGone: return "IndexColumnGone";
        case FieldDamage::LogicalIndexGone: return "LogicalIndexGone";
        case FieldDamage::IndexMapType: return "IndexMapType";
        case FieldDamage::IndexMapPastEnd: return "IndexMapPastEnd";
        case FieldDamage::IndexMapMissesRoot: return "IndexMapMissesRoot";
        case FieldDamage::ChainPastEnd: return "ChainPastEnd";
        case FieldDamage::ChainToDataPage: return "ChainToDataPage";
        case FieldDamage::ChainToZeroedPage: return "ChainToZeroedPage";
        case FieldDamage::ChainToOtherPart: return "ChainToOtherPart";
        case FieldDamage::ColumnNumberGone: return "ColumnNumberGone";
        case FieldDamage::VarSlotGone: return "VarSlotGone";
        case FieldDamage::TerminatorGone: return "TerminatorGone";
        case FieldDamage::NameLengthGone: return "NameLengthGone";
        case FieldDamage::FixedOffsetGone: return "FixedOffsetGone";
        case FieldDamage::LvColumnGone: return "LvColumnGone";
        case FieldDamage::VarSlotShared: return "VarSlotShared";
        case FieldDamage::AutonumberNegative: return "AutonumberNegative";
    }
    return "?";
}

struct FieldCase {
    std::string file;
    FieldDamage damage;
    bool system;  // an Access system table's definition, else a user table's
};

void PrintTo(const FieldCase& c, std::ostream* out) {
    *out << c.file << " / " << field_damage_name(c.damage) << (c.system ? " / system" : " / user");
}

std::vector<FieldCase> field_cases() {
    std::vector<FieldCase> cases;
    for (const char* f : {"jackcess/V1997/test2V1997.mdb", "jackcess/V1997/compIndexTestV1997.mdb",
                          "jackcess/V2000/test2V2000.mdb", "jackcess/V2007/test2V2007.accdb",
                          "efcore-jet/JetProviderExceptionTests/Northwind.accdb", "jackcess/V2010/indexTestV2010.accdb",
                          "msaccess-vcs-addin/Testing/Testing.accdb", "jackcess/empty2016.accdb",
                          "jackcess/empty2019.accdb"})
        for (FieldDamage d : {FieldDamage::IndexColumnGone, FieldDamage::LogicalIndexGone, FieldDamage::IndexMapType,
                              FieldDamage::IndexMapPastEnd, FieldDamage::IndexMapMissesRoot, FieldDamage::ChainPastEnd,
                              FieldDamage::ChainToDataPage, FieldDamage::ChainToZeroedPage, FieldDamage::ChainToOtherPart,
                              FieldDamage::ColumnNumberGone, FieldDamage::VarSlotGone, FieldDamage::TerminatorGone,
                              FieldDamage::NameLengthGone, FieldDamage::FixedOffsetGone, FieldDamage::LvColumnGone,
                              FieldDamage::VarSlotShared, FieldDamage::AutonumberNegative})
            for (bool system : {true, false}) cases.push_back({f, d, system});
    return cases;
}

std::string field_case_name(const ::testing::TestParamInfo<FieldCase>& info) {
    return test_name(info.param.file + "_" + field_damage_name(info.param.damage) + (info.param.system ? "_system" : "_user"));
}

// Columns taking room in the fixed area (fixed flag, not a boolean), in descriptor order.
std::vector<std::size_t> fixed_columns(const DefinitionAt& d) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < d.column_flags.size(); ++i)
        if ((d.column_flags[i] & 0x01) && d.column_types[i] != 0x01) out.push_back(i);
    return out;
}

// Columns with a slot in the variable area (not fixed, not a boolean), in descriptor order.
std::vector<std::size_t> variable_columns(const DefinitionAt& d) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < d.column_flags.size(); ++i)
        if (!(d.column_flags[i] & 0x01) && d.column_types[i] != 0x01) out.push_back(i);
    return out;
}

bool chain_damage(FieldDamage d) {
    return d == FieldDamage::ChainPastEnd || d == FieldDamage::ChainToDataPage || d == FieldDamage::ChainToZeroedPage ||
           d == FieldDamage::ChainToOtherPart;
}

// The page a damaged next-page pointer names: past the end, or the first page of the
// wanted kind (a continuation being a definition page that starts no definition).
std::optional<uint32_t> chain_target(const std::vector<uint8_t>& file, FieldDamage d) {
    const Layout l = layout_of(file);
    const uint32_t pages = uint32_t(file.size() / l.page_size);
    if (d == FieldDamage::ChainPastEnd) return pages + 50;
    const std::vector<uint32_t> firsts = definition_pages(file);
    for (uint32_t p = 3; p < pages; ++p) {
        const uint8_t* page = file.data() + std::size_t(p) * l.page_size;
        const bool wanted =
            d == FieldDamage::ChainToDataPage ? page[0] == 0x01
            : d == FieldDamage::ChainToZeroedPage
                ? std::all_of(page, page + l.page_size, [](uint8_t b) { return b == 0; })
                : page[0] == 0x02 && page[1] == 0x01 && !std::binary_search(firsts.begin(), firsts.end(), p);
        if (wanted) return p;
    }
    return std::nullopt;
}

// The first definition of the wanted kind with a real index (any, for chain damage to a
// one-page definition).
std::optional<DefinitionAt> target_definition(const std::vector<uint8_t>& file, const FieldCase& c) {
    for (uint32_t page : definition_pages(file)) {
        const auto d = definition_at(file, page);
        if (!d || d->system != c.system) continue;
        if (c.damage == FieldDamage::TerminatorGone || c.damage == FieldDamage::NameLengthGone) return d;
        if (c.damage == FieldDamage::AutonumberNegative) {
            // A table whose seed is in use (rows numbered by it).
            if (d->get(file, d->autonumber, 4) > 0) return d;
            continue;
        }
        if (c.damage == FieldDamage::LvColumnGone) {
            if (!d->lv_columns.empty()) return d;
            continue;
        }
        if (c.damage == FieldDamage::FixedOffsetGone) {
            if (fixed_columns(*d).size() >= 2) return d;
            continue;
        }
        const bool columns = c.damage == FieldDamage::ColumnNumberGone || c.damage == FieldDamage::VarSlotGone ||
                             c.damage == FieldDamage::VarSlotShared;
        // Column damage: a table whose columns were never deleted (numbers 0 .. max - 1).
        if (c.damage == FieldDamage::VarSlotShared && variable_columns(*d).size() < 2) continue;
        if (columns ? d->column_numbers.size() == d->max_columns_stored
                    : chain_damage(c.damage) ? d->pages.size() == 1 : !d->index_maps.empty())
            return d;
    }
    return std::nullopt;
}

// Where the map row a pointer names starts in the file; nothing when it is no plain row.
std::optional<std::size_t> map_row_at(const std::vector<uint8_t>& file, const Layout& l, uint32_t pointer) {
    const std::size_t page = pointer >> 8, row = pointer & 0xFF;
    const std::size_t at = page * l.page_size;
    if (page == 0 || at + l.page_size > file.size() || file[at] != 0x01) return std::nullopt;
    const std::size_t slot = at + (l.jet3 ? 0x0A : 0x0E) + 2 * row;
    const std::size_t start = (file[slot] | file[slot + 1] << 8) & 0x1FFF;
    if (start == 0 || start >= l.page_size) return std::nullopt;
    return at + start;
}

// Applies the damage; false when the file offers no target for it.
bool damage_field(std::vector<uint8_t>& file, const FieldCase& c) {
    const Layout l = layout_of(file);
    const auto d = target_definition(file, c);
    if (!d) return false;
    const uint32_t pages = uint32_t(file.size() / l.page_size);
    const uint32_t pointer = d->get(file, d->index_maps.empty() ? 0 : d->index_maps[0], 4);
    const auto row = map_row_at(file, l, pointer);
    switch (c.damage) {
        case FieldDamage::IndexColumnGone: d->put(file, d->index_columns[0], 0x7EFF, 2); return true;
        case FieldDamage::LogicalIndexGone:
            if (d->logical_reals.empty()) return false;
            d->put(file, d->logical_reals[0], 0xD3FF0001, 4);
            return true;
        case FieldDamage::IndexMapType:
            if (!row) return false;
            file[*row] = 0x07;
            return true;
        case FieldDamage::IndexMapPastEnd: {
            if (!row || file[*row] != 0x00) return false;
            const std::size_t slot = (pointer & 0xFF);
            const std::size_t host = std::size_t(pointer >> 8) * l.page_size;
            // The row ends where the previous slot's row starts (or at the page end).
            const std::size_t end = slot == 0 ? host + l.page_size
                                              : host + ((file[host + (l.jet3 ? 0x0A : 0x0E) + 2 * (slot - 1)] |
                                                         file[host + (l.jet3 ? 0x0A : 0x0E) + 2 * (slot - 1) + 1] << 8) &
                                                        0x1FFF);
            const uint32_t start = uint32_t(file[*row + 1] | file[*row + 2] << 8 | file[*row + 3] << 16);
            const uint32_t last = start + uint32_t(8 * (end - *row - 5)) - 1;
            if (last < pages) return false;
            file[end - 1] |= 0x80;
            return true;
        }
        case FieldDamage::IndexMapMissesRoot: {
            if (!row || file[*row] != 0x00) return false;
            const uint32_t root = d->get(file, d->index_maps[0] + 4, 4);
            const uint32_t start = uint32_t(file[*row + 1] | file[*row + 2] << 8 | file[*row + 3] << 16);
            if (root < start || root >= pages) return false;
            const std::size_t bit = root - start;
            if (!(file[*row + 5 + bit / 8] & (1u << (bit % 8)))) return false;
            file[*row + 5 + bit / 8] &= uint8_t(~(1u << (bit % 8)));
            return true;
        }
        case FieldDamage::ChainPastEnd:
        case FieldDamage::ChainToDataPage:
        case FieldDamage::ChainToZeroedPage:
        case FieldDamage::ChainToOtherPart: {
            auto target = chain_target(file, c.damage);
            if (!target && c.damage == FieldDamage::ChainToZeroedPage) {
                // No page of zeros in the file: one is added at its end, as a file grown
                // by a page never written.
                target = pages;
                file.resize(file.size() + l.page_size, 0);
            }
            if (!target) return false;
            for (int i = 0; i < 4; ++i) file[std::size_t(d->page) * l.page_size + 4 + i] = uint8_t(*target >> (8 * i));
            return true;
        }
        case FieldDamage::ColumnNumberGone:
            d->put(file, d->column_numbers.back(), 0x9D01, 2);
            return true;
        case FieldDamage::VarSlotGone:
            if (variable_columns(*d).empty()) return false;
            d->put(file, d->column_slots[variable_columns(*d).back()], 0x6E01, 2);
            return true;
        case FieldDamage::TerminatorGone: d->put(file, d->terminator, 0x5AFF, 2); return true;
        case FieldDamage::LvColumnGone: d->put(file, d->lv_columns.back(), 0x00ED, 2); return true;
        case FieldDamage::AutonumberNegative: file[d->origin.at(d->autonumber + 3)] |= 0xDE; return true;
        case FieldDamage::VarSlotShared: {
            const std::vector<std::size_t> variable = variable_columns(*d);
            d->put(file, d->column_slots[variable.back()], d->get(file, d->column_slots[variable.front()], 2), 2);
            return true;
        }
        case FieldDamage::FixedOffsetGone: {
            const std::vector<std::size_t> fixed = fixed_columns(*d);
            const uint32_t first = d->get(file, d->column_offsets[fixed.front()], 2);
            if (d->get(file, d->column_offsets[fixed.back()], 2) == first) return false;
            d->put(file, d->column_offsets[fixed.back()], first, 2);
            return true;
        }
        case FieldDamage::NameLengthGone:
            d->put(file, d->first_name, d->get(file, d->first_name, 1) + 0x20, 1);
            return true;
    }
    return false;
}

// Whether every real index of the target serves exactly one logical index: a dangling
// logical index is then pointed back, and the file comes back as it was.
bool one_logical_per_real(const std::vector<uint8_t>& file, const DefinitionAt& d) {
    std::map<uint32_t, int> users;
    for (std::size_t at : d.logical_reals) ++users[d.get(file, at, 4)];
    if (users.size() != d.index_maps.size()) return false;
    return std::all_of(users.begin(), users.end(), [](const auto& u) { return u.second == 1; });
}

bool stores_rows(const fs::path& file, uint32_t tdef_page) {
    jet::Database db(file);
    const jet::TableDefResult& def = db.table_def(tdef_page);
    return def.table && def.table->num_rows > 0;
}

class TableDefFieldRepair : public ::testing::TestWithParam<FieldCase> {};

}  // namespace

TEST_P(TableDefFieldRepair, RepairedWithEveryRow) {
    const FieldCase& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const std::vector<uint8_t> original = read_bytes(intact);
    std::vector<uint8_t> bytes = original;
    if (!damage_field(bytes, c)) GTEST_SKIP() << "no target for this damage in this file";

    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false);
    const auto d = target_definition(original, c);
    // An index's damaged column is named again from its entries; an empty table's index
    // has only its name to go by, which not every index spells.
    const bool comes_back = (c.damage == FieldDamage::IndexColumnGone && stores_rows(intact, d->page)) ||
                            chain_damage(c.damage) || c.damage == FieldDamage::ColumnNumberGone ||
                            c.damage == FieldDamage::VarSlotGone || c.damage == FieldDamage::TerminatorGone ||
                            c.damage == FieldDamage::NameLengthGone || c.damage == FieldDamage::FixedOffsetGone ||
                            c.damage == FieldDamage::LvColumnGone || c.damage == FieldDamage::VarSlotShared ||
                            c.damage == FieldDamage::AutonumberNegative ||
                            (c.damage == FieldDamage::LogicalIndexGone && one_logical_per_real(original, *d));
    if (comes_back) {
        std::vector<uint8_t> repaired = read_bytes(database);
        // A page of zeros the damage added at the end stays: the file is compared without it.
        if (c.damage == FieldDamage::ChainToZeroedPage && bytes.size() > original.size()) {
            EXPECT_TRUE(std::all_of(repaired.begin() + std::ptrdiff_t(std::min(original.size(), repaired.size())),
                                    repaired.end(), [](uint8_t b) { return b == 0; }));
            repaired.resize(std::min(repaired.size(), original.size()));
        }
        const auto differ = std::mismatch(repaired.begin(), repaired.end(), original.begin(), original.end());
        EXPECT_TRUE(differ.first == repaired.end() && differ.second == original.end())
            << "the definition did not come back exactly: first difference at byte "
            << (differ.first - repaired.begin()) << " of " << repaired.size() << " (intact: " << original.size() << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, TableDefFieldRepair, ::testing::ValuesIn(sampled(field_cases())), field_case_name);
