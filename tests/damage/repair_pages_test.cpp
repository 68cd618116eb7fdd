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
#include "jet/repair/repair.h"
#include "row_damage.h"
#include "repair_outcome.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct KindFigures {
    std::set<std::string> formats;
    std::size_t files = 0, rows_total = 0, rows_kept = 0, saved = 0;
};

// Rows kept in the damaged tables, rows a reader gets from the damaged file there, rows invented.
struct FloorFigures {
    std::size_t files = 0, kept = 0, read = 0, invented = 0;
};

std::map<std::pair<std::string, std::string>, FloorFigures> floor_figures;
// The same, as mdb-reader reads the damaged and the repaired file.
std::map<std::pair<std::string, std::string>, Floor> second_reader_figures;

// Removes from `from` one copy of each row of `rows` it holds; returns how many it held.
std::size_t take_rows(std::multiset<std::string>& from, const std::vector<std::string>& rows) {
    std::size_t n = 0;
    for (const std::string& row : rows)
        if (auto it = from.find(row); it != from.end()) {
            from.erase(it);
            ++n;
        }
    return n;
}

std::map<std::string, KindFigures> figures;
const bool printed = (print_at_end([] {
    if (figures.empty()) return;
    std::cout << "\n== Row and long-value damage (kind: files, formats, rows kept/total, items saved to recovery) ==\n";
    for (const auto& [kind, f] : figures) {
        std::string formats;
        for (const auto& s : f.formats) formats += (formats.empty() ? "" : ",") + s;
        std::cout << kind << ": " << f.files << " files [" << formats << "], rows kept " << f.rows_kept << "/"
                  << f.rows_total << ", saved " << f.saved << "\n";
    }
    if (floor_figures.empty()) return;
    std::cout << "\n== Against a reader of the damaged file (kind, format: files, damaged tables' rows kept / "
                 "read by mdbtools from the damaged file / invented) ==\n";
    for (const auto& [key, f] : floor_figures)
        std::cout << key.first << ", " << key.second << ": " << f.files << " files, kept " << f.kept << " / read "
                  << f.read << " / invented " << f.invented << "\n";
    std::cout << "\n== The same by mdb-reader (kind, format: rows of the intact files, read from the damaged "
                 "file, kept, invented) ==\n";
    for (const auto& [key, f] : second_reader_figures)
        std::cout << key.first << ", " << key.second << ": " << f.intact << " / read " << f.read << " / kept "
                  << f.kept << " / invented " << f.invented << "\n";
}), true);

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
    return test_name(info.param.file.name + "_" + row_kind_name(info.param.kind));
}

class RowDamageRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(RowDamageRepair, RepairsAndKeepsEveryUntouchedRow) {
    const Case& c = GetParam();
    if (const auto why = why_unusable(c.file, false)) GTEST_SKIP() << *why;

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
    expect_settled(database, report, bytes);

    bool listed = false;
    mdb_tables(database, listed);
    EXPECT_TRUE(listed) << "mdb-tables fails on the repaired file";
    const TableRows& intact = mdbtools_rows(c.file.path);
    // A damaged long value keeps the part that reads, so its row may come back changed.
    const std::size_t may_change = is_long_value_kind(c.kind) ? hit->rows_at_risk : 0;
    const bool floor = judged_by_damaged_reading(c.kind);
    std::vector<std::string> listed_now;
    if (hit->other_tables_at_risk) listed_now = mdb_tables(database, listed);
    FloorFigures judged;
    std::size_t total = 0, kept = 0;
    for (const auto& [table, rows] : intact) {
        const bool damaged = table == hit->table || hit->other_tables_at_risk;
        // A cut file may take a table's definition with it.
        if (hit->other_tables_at_risk &&
            std::find(listed_now.begin(), listed_now.end(), table) == listed_now.end())
            continue;
        bool exported = false;
        const auto now = mdb_rows(database, table, exported);
        EXPECT_TRUE(exported) << "mdb-export fails on table " << table;
        if (floor && damaged) {
            // What a reader still gets from the damaged file, where the intact file has it, is a floor.
            bool read_ok = false;
            std::multiset<std::string> readable(rows.begin(), rows.end());
            const auto read = mdb_rows(report.backup, table, read_ok);
            std::multiset<std::string> floor_rows;
            for (const std::string& row : read)
                if (auto it = readable.find(row); it != readable.end()) {
                    floor_rows.insert(row);
                    readable.erase(it);
                }
            std::multiset<std::string> intact_left(rows.begin(), rows.end());
            const std::size_t kept_here = take_rows(intact_left, now);
            const std::size_t floor_size = floor_rows.size();
            EXPECT_EQ(take_rows(floor_rows, now), floor_size)
                << "table " << table << ": " << floor_rows.size() << " rows a reader gets from the damaged file "
                << "are missing, e.g. " << *floor_rows.begin();
            judged.kept += kept_here;
            judged.read += floor_size;
            judged.invented += now.size() - kept_here;
        }
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
        EXPECT_LE(foreign.size(), damaged ? may_change : 0)
            << "table " << table << " has a row the intact file lacks: " << foreign.front();
        if (!hit->other_tables_at_risk) {
            EXPECT_LE(remaining.size(), damaged ? hit->rows_at_risk : 0)
                << remaining.size() << " rows missing from " << table << ", more than the damage reached";
        }
    }
    if (floor && have_both_readers()) {
        // mdb-reader judges too: the repaired file reads whole and keeps what it read from the damaged one.
        const Reading repaired_reading = read_with(Reader::MdbReader, database);
        EXPECT_TRUE(repaired_reading.whole()) << "mdb-reader cannot read every table of the repaired file";
        const Floor f = measure_floor(intact_reading(Reader::MdbReader, c.file.path),
                                      read_with(Reader::MdbReader, report.backup), repaired_reading);
        EXPECT_EQ(f.missing, 0u) << "rows mdb-reader gets from the damaged file are missing, e.g. "
                                 << (f.examples.empty() ? "" : f.examples.front());
        EXPECT_LE(f.invented, may_change) << (f.examples.empty() ? "" : f.examples.back());
        second_reader_figures[{row_kind_name(c.kind), format_family(c.file.format)}] += f;
    }
    if (floor) {
        FloorFigures& ff = floor_figures[{row_kind_name(c.kind), format_family(c.file.format)}];
        ++ff.files;
        ff.kept += judged.kept;
        ff.read += judged.read;
        ff.invented += judged.invented;
    }

    KindFigures& f = figures[row_kind_name(c.kind)];
    f.formats.insert(c.file.format);
    ++f.files;
    f.rows_total += total;
    f.rows_kept += kept;
    f.saved += lines_in(report.recovery);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RowDamageRepair, ::testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RowDamageRepair);
