// Every kind of damage on every readable corpus file: the repair either refuses and leaves
// everything as it was, or finds nothing and leaves the file alone, or repairs it — and a
// repaired file must hold up: mdbtools reads every table, no row appears that was not in
// the intact file, kinds that destroy nothing keep every row, our check finds nothing, a
// second repair changes nothing and the backup is the damaged file byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include "corpus_support.h"
#include "injector.h"
#include "jet/engine.h"
#include "jet/repair/repair.h"
#include "jet/file/safe_commit.h"
#include "repair_outcome.h"
#include "row_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Expectation {
    Kind kind;
    bool must_repair;  // a fix exists: the repair must succeed
    bool loses_rows;   // the damage itself destroys rows
};

constexpr Expectation kExpectations[] = {
    {Kind::TornAppend, true, false},
    // Truncation: the cut page may hold long values, overflow rows, index pages or maps
    // others point at; every such pointer is mended and what is lost is saved.
    {Kind::TruncateMidPage, true, true},
    // Whole pages cut: tables whose definition went are dropped (or found again when only
    // their catalog row went); every other pointer into the cut is mended.
    {Kind::TruncateAtPage, true, true},
    {Kind::TruncateHalf, true, true},
    {Kind::CommitSlotsBusy, false, false},
    {Kind::StaleRowCount, true, false},
    {Kind::FlipMapBit, true, false},
    {Kind::ZeroPage, false, true},
    {Kind::GarbagePage, false, true},
    {Kind::TearPageTail, false, true},
    {Kind::BreakLvChain, true, true},
    {Kind::RowOffsetOutside, false, true},
};

// One line per (file, kind) for the closing summary.
std::vector<std::string> summary;
const bool printed = (print_at_end([] {
    if (summary.empty()) return;
    std::cout << "\n== Damage summary (file, format, kind: outcome) ==\n";
    for (const auto& line : summary) std::cout << line << "\n";
}), true);

struct Case {
    CorpusFile file;
    Expectation expect;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file.name << " / " << kind_name(c.expect.kind); }

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const CorpusFile& file : readable_corpus())
        for (const Expectation& e : kExpectations)
            if (e.kind != Kind::CommitSlotsBusy || file.format == "JET3") cases.push_back({file, e});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(info.param.file.name + "_" + kind_name(info.param.expect.kind));
}

class DamageRepair : public ::testing::TestWithParam<Case> {};

// The page each page-level damage hits: the first data page of a user table, where rows
// live; the definition of a user table for a stale count.
uint32_t target_page(const fs::path& file, const std::vector<uint8_t>& bytes, Kind kind) {
    if (kind == Kind::ZeroPage || kind == Kind::GarbagePage || kind == Kind::TearPageTail)
        return first_data_page_with_rows(bytes).value_or(0);
    if (kind == Kind::StaleRowCount) return first_user_table_with_rows(file);
    return 0;
}

}  // namespace

TEST_P(DamageRepair, RefusesLeavesAloneOrRepairsSoundly) {
    const Case& c = GetParam();
    if (!fs::exists(c.file.path)) GTEST_SKIP() << "corpus file missing: " << c.file.path;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    Damage hit{c.expect.kind};
    hit.page = target_page(c.file.path, bytes, c.expect.kind);
    if (c.expect.kind == Kind::BreakLvChain) {
        // A chain a user table's value runs through: chains only deleted rows reach, or bytes
        // inside Access's own private blobs that look like pointers, are no damage anyone sees.
        const auto chain = first_long_value_chain(c.file.path);
        if (!chain) GTEST_SKIP() << "no long value spread over several rows";
        hit.page = chain->first;
        hit.value = chain->second;
    }
    if ((c.expect.kind == Kind::ZeroPage || c.expect.kind == Kind::GarbagePage ||
         c.expect.kind == Kind::TearPageTail) && hit.page == 0)
        GTEST_SKIP() << "no user data page to damage";
    if (c.expect.kind == Kind::StaleRowCount && hit.page == 0) GTEST_SKIP() << "no user table with rows";
    const auto note = damage::apply(bytes, hit);
    if (!note) GTEST_SKIP() << "no target for " << kind_name(c.expect.kind) << " in this file";
    write_bytes(database, bytes);
    struct stat before;
    ASSERT_EQ(::stat(database.c_str(), &before), 0);

    const std::string label = c.file.name + " (" + c.file.format + "), " + kind_name(c.expect.kind) + " [" + *note + "]: ";
    jet::Report report;
    try {
        report = jet::repair_database(database);
    } catch (const jet::EngineError& error) {
        summary.push_back(label + "refused");
        EXPECT_FALSE(c.expect.must_repair) << error.what();
        EXPECT_NE(std::string(error.what()).find(database.filename().string()), std::string::npos) << error.what();
        EXPECT_EQ(read_bytes(database), bytes) << "a refused repair must leave the file as it was";
        EXPECT_EQ(folder.entries(), std::vector<std::string>{database.filename().string()});
        return;
    }
    struct stat after;
    ASSERT_EQ(::stat(database.c_str(), &after), 0);
    if (report.backup.empty()) {
        summary.push_back(label + "not detected, file left alone");
        EXPECT_FALSE(c.expect.must_repair) << "the damage was not detected";
        EXPECT_EQ(before.st_ino, after.st_ino);
        EXPECT_EQ(read_bytes(database), bytes);
        EXPECT_EQ(folder.entries(), std::vector<std::string>{database.filename().string()});
        return;
    }

    // Repaired: the backup beside the file, no working copy left, and the file settled.
    EXPECT_EQ(report.backup.parent_path(), folder.path());
    EXPECT_FALSE(fs::exists(fs::path(database.string() + ".reparando")));
    expect_settled(database, report, bytes);

    // mdbtools reads every table; nothing appears that was not there; rows are counted.
    bool listed = false;
    const auto tables = mdb_tables(database, listed);
    EXPECT_TRUE(listed) << "mdb-tables fails on the repaired file";
    for (const std::string& table : tables) {
        bool exported = false;
        mdb_rows(database, table, exported);
        EXPECT_TRUE(exported) << "mdb-export fails on table " << table;
    }
    const TableRows& intact = mdbtools_rows(c.file.path);
    std::size_t total = 0;
    std::size_t kept = 0;
    // A file cut inside its last page: what a reader still gets from it, where the intact file
    // has it, is a floor for the repair.
    const bool floor = c.expect.kind == Kind::TruncateMidPage;
    std::size_t readable = 0;
    for (const auto& [table, rows] : intact) {
        total += rows.size();
        // A table whose definition the damage destroyed is gone with all its rows.
        if (c.expect.loses_rows && std::find(tables.begin(), tables.end(), table) == tables.end()) continue;
        bool exported = false;
        const auto now = mdb_rows(database, table, exported);
        EXPECT_TRUE(exported) << "mdb-export fails on table " << table;
        std::multiset<std::string> remaining(rows.begin(), rows.end());
        // A broken long-value chain keeps the part that reads: its one row comes back changed.
        std::size_t may_change = c.expect.kind == Kind::BreakLvChain ? 1 : 0;
        for (const std::string& row : now) {
            auto it = remaining.find(row);
            if (it == remaining.end() && may_change > 0) {
                --may_change;
                continue;
            }
            EXPECT_TRUE(it != remaining.end()) << "table " << table << " has a row the intact file lacks: " << row;
            if (it != remaining.end()) {
                remaining.erase(it);
                ++kept;
            }
        }
        if (!c.expect.loses_rows) {
            EXPECT_TRUE(remaining.empty()) << remaining.size() << " rows lost in " << table;
        }
        if (floor) {
            bool read_ok = false;
            std::multiset<std::string> in_intact(rows.begin(), rows.end()), repaired(now.begin(), now.end());
            for (const std::string& row : mdb_rows(report.backup, table, read_ok)) {
                auto it = in_intact.find(row);
                if (it == in_intact.end()) continue;
                in_intact.erase(it);
                ++readable;
                auto there = repaired.find(row);
                EXPECT_TRUE(there != repaired.end())
                    << "table " << table << ": a row a reader gets from the damaged file is missing: " << row;
                if (there != repaired.end()) repaired.erase(there);
            }
        }
    }
    summary.push_back(label + "repaired, rows kept " + std::to_string(kept) + "/" + std::to_string(total) +
                        (floor ? " (mdbtools reads " + std::to_string(readable) + " from the damaged file)" : "") +
                        (report.recovery.empty() ? "" : ", recovery file " + report.recovery.filename().string()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamageRepair, ::testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DamageRepair);
