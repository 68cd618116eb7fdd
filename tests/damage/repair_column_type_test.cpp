// A column's type byte lost (zeroed, or set to a value no Access writes) in a user table
// and in one of Access's own tables, for every type family the corpus files hold, on
// Jet 3, Jet 4 and ACE files: the repair tells the type again and writes it back. The
// repaired file must read whole with both readers, with no row lost against what each
// read from the damaged file and none invented; the guessed type is compared with the
// intact file's and the figures printed at the end.
#include <gtest/gtest.h>

#include <iostream>
#include <map>

#include "jet/engine.h"
#include "corpus_support.h"
#include "injector.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "table_def_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Family {
    uint8_t type;
    const char* name;
};

constexpr Family kFamilies[] = {{0x01, "boolean"}, {0x02, "byte"},   {0x03, "integer"}, {0x04, "long"},
                                {0x05, "currency"}, {0x06, "single"}, {0x07, "double"},  {0x08, "datetime"},
                                {0x09, "binary"},   {0x0A, "text"},   {0x0B, "ole"},     {0x0C, "memo"},
                                {0x0F, "guid"}};

const char* const kFiles[] = {
    "jackcess/V1997/test2V1997.mdb",    "jackcess/V1997/testIndexCodesV1997.mdb",
    "jackcess/V2000/test2V2000.mdb",    "jackcess/V2000/testRefGlobalV2000.mdb",
    "jackcess/V2007/test2V2007.accdb",  "efcore-jet/JetProviderExceptionTests/Northwind.accdb",
    "ucanaccess/float.accdb",           "mdb-reader/data/V2016/currency.accdb",
};

struct TypeCase {
    std::string file;
    Family family;
    bool system;      // a column of one of Access's own tables, else of a user table
    uint8_t written;  // what the type byte becomes
};

std::string kind_of(const TypeCase& c) {
    return std::string(c.written == 0 ? "zeroed " : "unknown ") + c.family.name + (c.system ? " (system)" : " (user)");
}

void PrintTo(const TypeCase& c, std::ostream* out) { *out << c.file << " / " << kind_of(c); }

std::vector<TypeCase> type_cases() {
    std::vector<TypeCase> cases;
    for (const char* f : kFiles)
        for (const Family& family : kFamilies) {
            for (bool system : {false, true}) cases.push_back({f, family, system, 0x00});
            if (family.type == 0x04 || family.type == 0x0A || family.type == 0x0C) cases.push_back({f, family, false, 0x7F});
        }
    return cases;
}

std::string type_case_name(const ::testing::TestParamInfo<TypeCase>& info) {
    return test_name(info.param.file + "_" + kind_of(info.param));
}

// The column to damage: the first of the family in the definition of the wanted kind
// holding the most rows (the values then have a say; for Access's own tables, mostly the
// catalog).
std::optional<std::pair<DefinitionAt, std::size_t>> target_column(const std::vector<uint8_t>& file, const TypeCase& c) {
    std::optional<std::pair<DefinitionAt, std::size_t>> best;
    std::vector<uint32_t> pages = definition_pages(file);
    pages.insert(pages.begin(), 2);  // the catalog's own
    for (uint32_t page : pages) {
        const auto d = definition_at(file, page);
        if (!d || d->system != c.system || (best && best->first.rows >= d->rows)) continue;
        for (std::size_t i = 0; i < d->column_types.size(); ++i)
            if (d->column_types[i] == c.family.type) {
                best.emplace(*d, i);
                break;
            }
    }
    return best;
}

struct Figures {
    std::size_t cases = 0, repaired = 0, right = 0, wrong = 0;
    std::map<Reader, Floor> floors;
};

std::map<std::pair<std::string, std::string>, Figures> figures;
const bool printed = (print_at_end([] {
    if (figures.empty()) return;
    std::cout << "\n== Column type bytes (kind, format: cases, repaired, type right/wrong, rows kept / read from "
                 "the damaged file by mdbtools and mdb-reader) ==\n";
    for (const auto& [key, f] : figures) {
        std::cout << key.first << ", " << key.second << ": " << f.cases << " cases, " << f.repaired << " repaired, type "
                  << f.right << "/" << f.wrong;
        for (const auto& [reader, floor] : f.floors)
            std::cout << ", " << reader_name(reader) << " " << floor.kept << "/" << floor.read << " (intact "
                      << floor.intact << ")";
        std::cout << "\n";
    }
}), true);

std::string format_of(const Layout& l, const std::vector<uint8_t>& file) {
    return l.jet3 ? "Jet 3" : file[0x14] == 0x01 ? "Jet 4" : "ACE";
}

class ColumnTypeRepair : public ::testing::TestWithParam<TypeCase> {};

}  // namespace

TEST_P(ColumnTypeRepair, TypeToldAgainWithEveryRow) {
    const TypeCase& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_both_readers()) GTEST_SKIP() << "mdbtools or mdb-reader not installed";
    const std::vector<uint8_t> original = read_bytes(intact);
    const auto target = target_column(original, c);
    if (!target) GTEST_SKIP() << "no such column in this file";
    const auto& [d, column] = *target;
    std::vector<uint8_t> bytes = original;
    d.put(bytes, d.column_starts[column], c.written, 1);

    TempFolder folder;
    const fs::path damaged = folder / ("damaged_" + intact.filename().string());
    const fs::path database = folder / intact.filename().string();
    write_bytes(damaged, bytes);
    write_bytes(database, bytes);
    Figures& f = figures[{kind_of(c), format_of(layout_of(original), original)}];
    ++f.cases;
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database)) << "the repair refused the file";
    f.repaired += !report.backup.empty();
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/true);
    const Verdict verdict = expect_floors_kept(intact, read_with_both(damaged), read_with_both(database));
    for (const auto& [reader, floor] : verdict.floors) f.floors[reader] += floor;
    const uint8_t now = d.get(read_bytes(database), d.column_starts[column], 1);
    (now == c.family.type ? f.right : f.wrong)++;
    if (now != c.family.type)
        for (const jet::Finding& finding : report.findings)
            if (finding.code == "TDEF_COLUMN_TYPE")
                std::cout << "guessed 0x" << std::hex << int(now) << std::dec << ": " << finding.object << ": "
                          << finding.description << "\n";
}

INSTANTIATE_TEST_SUITE_P(Corpus, ColumnTypeRepair, ::testing::ValuesIn(sampled(type_cases())), type_case_name);
