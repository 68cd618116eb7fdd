// A data page written over with a copy of another (same table, another table, one that
// repeats a unique key), on every readable corpus file. The repair must succeed and keep
// the copied rows once: our check finds nothing after it, a second repair changes nothing,
// the backup is the damaged file, both independent readers read the repaired file whole,
// with no row the intact file lacks and every row they got from the damaged file. The
// overwritten page's own rows cannot come back; nothing else may go.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>

#include "corpus_support.h"
#include "jet/engine.h"
#include "jet/repair/repair.h"
#include "page_copy_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Figures {
    std::size_t files = 0, refused = 0, readable_by_both = 0;
    std::size_t intact = 0, floor = 0, kept = 0, invented = 0, damaged_invented = 0;
    std::map<std::string, std::size_t> evidence;  // what told the copy, as the finding says
};

std::map<std::pair<std::string, std::string>, Figures> figures;
const bool printed = (print_at_end([] {
    if (figures.empty()) return;
    std::cout << "\n== Page copies (kind, format: files, refusals, readable by both; rows of the damaged "
                 "tables for the better reader: kept / floor / intact, invented after repair (before)) ==\n";
    for (const auto& [key, f] : figures)
        std::cout << key.first << ", " << key.second << ": " << f.files << " files, " << f.refused << " refused, "
                  << f.readable_by_both << " readable by both; kept " << f.kept << " / floor " << f.floor
                  << " / intact " << f.intact << ", invented " << f.invented << " (" << f.damaged_invented << ")\n";
    for (const auto& [key, f] : figures)
        for (const auto& [because, n] : f.evidence)
            std::cout << "  " << key.first << ", " << key.second << ": " << n << " told because " << because << "\n";
}), true);

struct Case {
    CorpusFile file;
    CopyKind kind;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file.name << " / " << copy_kind_name(c.kind); }

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const CorpusFile& file : readable_corpus())
        for (CopyKind kind : all_copy_kinds()) cases.push_back({file, kind});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(info.param.file.name + "_" + copy_kind_name(info.param.kind));
}

// Only the damaged table's rows: the others are judged by the readings being whole.
Reading only_table(const Reading& reading, const std::string& table) {
    Reading out;
    out.opened = reading.opened;
    if (auto it = reading.tables.find(table); it != reading.tables.end()) out.tables.insert(*it);
    return out;
}

class PageCopyRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(PageCopyRepair, KeepsTheOriginalAndDropsTheCopy) {
    const Case& c = GetParam();
    if (const auto why = why_unusable(c.file)) GTEST_SKIP() << *why;

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    const auto hit = apply_page_copy(c.file.path, bytes, c.kind);
    if (!hit) GTEST_SKIP() << "no pages to copy for " << copy_kind_name(c.kind) << " in this file";
    write_bytes(database, bytes);
    SCOPED_TRACE("page " + std::to_string(hit->source) + " of " + hit->source_table + " over page " +
                 std::to_string(hit->target) + " of " + hit->table);

    Figures& f = figures[{copy_kind_name(c.kind), format_family(c.file.format)}];
    ++f.files;
    jet::Report report;
    try {
        report = jet::repair_database(database);
    } catch (const std::exception& e) {
        ++f.refused;
        FAIL() << "the repair refused: " << e.what();
    }
    ASSERT_FALSE(report.backup.empty()) << "the damage was not repaired";
    expect_settled(database, report, bytes);
    const auto copy = std::find_if(report.findings.begin(), report.findings.end(),
                                   [](const jet::Finding& x) { return x.code == "DPAGE_COPY"; });
    ASSERT_NE(copy, report.findings.end()) << "the copy was not recognised";
    // Where evidence tells them apart (always across tables and over unique keys), the
    // overwritten page is the copy and its lost rows are counted.
    const std::string because = copy->description.substr(copy->description.find("porque ") + 7);
    ++f.evidence[because];
    if (c.kind != CopyKind::SameTable || because.rfind("nada distingue", 0) != 0) {
        EXPECT_NE(copy->object.find("página " + std::to_string(hit->target)), std::string::npos) << copy->object;
        const std::string lost = hit->rows_lost == 1 ? "se ha perdido la fila que tenía"
                                                      : "se han perdido las " + std::to_string(hit->rows_lost) +
                                                            " filas que tenía";
        EXPECT_NE(copy->description.find(lost), std::string::npos) << copy->description;
    }
    EXPECT_GE(lines_in(report.recovery), hit->rows_copied) << "the copied rows go to the recovery file";

    // Over the whole file no reader loses or gains a row; over the overwritten table, the
    // better reader's floor (the copied rows count once in it).
    const Readings damaged = read_with_both(report.backup), now = read_with_both(database);
    const Verdict verdict = expect_floors_kept(c.file.path, damaged, now);
    const bool whole = verdict.whole_by_both;
    Floor best;
    std::size_t invented_before = 0;
    for (const auto& [reader, reading] : now) {
        const Reading intact_here = only_table(intact_reading(reader, c.file.path), hit->table);
        const Reading damaged_here = only_table(damaged.at(reader), hit->table);
        const Floor here = measure_floor(intact_here, damaged_here, only_table(reading, hit->table));
        EXPECT_LE(here.intact - here.kept, hit->rows_lost) << reader_name(reader) << ": more rows lost than the overwritten page held";
        if (here.read >= best.read) {
            best = here;
            invented_before = measure_floor(intact_here, damaged_here, damaged_here).invented;
        }
    }
    if (whole) ++f.readable_by_both;
    f.intact += best.intact;
    f.floor += best.read;
    f.kept += best.kept;
    f.invented += best.invented;
    f.damaged_invented += invented_before;
}

INSTANTIATE_TEST_SUITE_P(Corpus, PageCopyRepair, ::testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PageCopyRepair);
