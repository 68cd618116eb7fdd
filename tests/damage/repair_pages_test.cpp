// Damage inside data pages, rows and long values of a user table, on every readable
// corpus file (Jet 3, Jet 4, ACE): the repair must succeed, and the repaired file must
// hold up: our check finds nothing, a second repair changes nothing, the backup is the
// damaged file byte for byte, mdbtools exports every table, no row appears that the
// intact file lacks, and every row the damage could not reach is there unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include "corpus_support.h"
#include "jet/engine.h"
#include "jet/repair.h"
#include "row_damage.h"
#include "repair_outcome.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct KindFigures {
    std::set<std::string> formats;
    std::size_t files = 0, rows_total = 0, rows_kept = 0, saved = 0;
};

std::map<std::string, KindFigures>& figures() {
    static std::map<std::string, KindFigures> f;
    return f;
}

class FiguresPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (figures().empty()) return;
        std::cout << "\n== Row and long-value damage (kind: files, formats, rows kept/total, items saved to recovery) ==\n";
        for (const auto& [kind, f] : figures()) {
            std::string formats;
            for (const auto& s : f.formats) formats += (formats.empty() ? "" : ",") + s;
            std::cout << kind << ": " << f.files << " files [" << formats << "], rows kept " << f.rows_kept << "/"
                      << f.rows_total << ", saved " << f.saved << "\n";
        }
    }
};
const auto* const printer = ::testing::AddGlobalTestEnvironment(new FiguresPrinter);

struct Case {
    CorpusFile file;
    RowKind kind;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file.name << " / " << row_kind_name(c.kind); }

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const CorpusFile& file : readable_corpus())
        for (RowKind kind : all_row_kinds()) cases.push_back({file, kind});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.file.name + "_" + row_kind_name(info.param.kind);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::size_t lines_in(const fs::path& path) {
    if (path.empty()) return 0;
    std::ifstream in(path);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

class RowDamageRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(RowDamageRepair, RepairsAndKeepsEveryUntouchedRow) {
    const Case& c = GetParam();
    if (!fs::exists(c.file.path)) GTEST_SKIP() << "corpus file missing: " << c.file.path;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";

    const auto own = jet::check_database(c.file.path).findings;
    if (!std::all_of(own.begin(), own.end(), jet::tolerated)) GTEST_SKIP() << "the corpus file itself has problems";

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    const auto hit = apply_row_damage(c.file.path, bytes, c.kind);
    if (!hit) GTEST_SKIP() << "no target for " << row_kind_name(c.kind) << " in this file";
    write_bytes(database, bytes);
    SCOPED_TRACE(hit->table + ", page " + std::to_string(hit->page) + ": " + hit->note);

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    ASSERT_FALSE(report.backup.empty()) << "the damage was not repaired";
    EXPECT_EQ(read_bytes(report.backup), bytes) << "the backup must be the damaged file byte for byte";

    for (const jet::Finding& f : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(f)) << f.code << ": " << f.description << " (" << f.object << ")";
    const auto repaired = read_bytes(database);
    jet::Report second;
    ASSERT_NO_THROW(second = jet::repair_database(database));
    EXPECT_TRUE(second.backup.empty()) << "a second repair rewrote the file";
    EXPECT_EQ(read_bytes(database), repaired);

    bool listed = false;
    mdb_tables(database, listed);
    EXPECT_TRUE(listed) << "mdb-tables fails on the repaired file";
    const TableRows& intact = mdbtools_rows(c.file.path);
    // A damaged long value keeps the part that reads, so its row may come back changed.
    const std::size_t may_change = is_long_value_kind(c.kind) ? hit->rows_at_risk : 0;
    std::size_t total = 0, kept = 0;
    for (const auto& [table, rows] : intact) {
        bool exported = false;
        const auto now = mdb_rows(database, table, exported);
        EXPECT_TRUE(exported) << "mdb-export fails on table " << table;
        std::multiset<std::string> remaining(rows.begin(), rows.end());
        std::vector<std::string> foreign;
        for (const std::string& row : now) {
            auto it = remaining.find(row);
            if (it == remaining.end()) {
                foreign.push_back(row);
                continue;
            }
            remaining.erase(it);
            ++kept;
        }
        total += rows.size();
        const bool damaged = table == hit->table;
        EXPECT_LE(foreign.size(), damaged ? may_change : 0)
            << "table " << table << " has a row the intact file lacks: " << foreign.front();
        EXPECT_LE(remaining.size(), damaged ? hit->rows_at_risk : 0)
            << remaining.size() << " rows missing from " << table << ", more than the damage reached";
    }

    KindFigures& f = figures()[row_kind_name(c.kind)];
    f.formats.insert(c.file.format);
    ++f.files;
    f.rows_total += total;
    f.rows_kept += kept;
    f.saved += lines_in(report.recovery);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RowDamageRepair, ::testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RowDamageRepair);
