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
#include "two_readers.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Figures {
    std::size_t files = 0, refused = 0, readable_by_both = 0;
    std::size_t intact = 0, floor = 0, kept = 0, invented = 0, damaged_invented = 0;
    std::map<std::string, std::size_t> evidence;  // what told the copy, as the finding says
};

std::map<std::pair<std::string, std::string>, Figures>& figures() {
    static std::map<std::pair<std::string, std::string>, Figures> f;
    return f;
}

class FiguresPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (figures().empty()) return;
        std::cout << "\n== Page copies (kind, format: files, refusals, readable by both; rows of the damaged "
                     "tables for the better reader: kept / floor / intact, invented after repair (before)) ==\n";
        for (const auto& [key, f] : figures())
            std::cout << key.first << ", " << key.second << ": " << f.files << " files, " << f.refused
                      << " refused, " << f.readable_by_both << " readable by both; kept " << f.kept << " / floor "
                      << f.floor << " / intact " << f.intact << ", invented " << f.invented << " ("
                      << f.damaged_invented << ")\n";
        for (const auto& [key, f] : figures())
            for (const auto& [because, n] : f.evidence)
                std::cout << "  " << key.first << ", " << key.second << ": " << n << " told because " << because << "\n";
    }
};
const auto* const printer = ::testing::AddGlobalTestEnvironment(new FiguresPrinter);

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
    std::string name = info.param.file.name + "_" + copy_kind_name(info.param.kind);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::string format_family(const std::string& format) { return format.rfind("ACE", 0) == 0 ? "ACE" : format; }

// Only the damaged table's rows: the others are judged by the readings being whole.
Reading only_table(const Reading& reading, const std::string& table) {
    Reading out;
    out.opened = reading.opened;
    if (auto it = reading.tables.find(table); it != reading.tables.end()) out.tables.insert(*it);
    return out;
}

std::size_t lines_in(const fs::path& path) {
    if (path.empty()) return 0;
    std::ifstream in(path);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

class PageCopyRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(PageCopyRepair, KeepsTheOriginalAndDropsTheCopy) {
    const Case& c = GetParam();
    if (!fs::exists(c.file.path)) GTEST_SKIP() << "corpus file missing: " << c.file.path;
    if (!have_both_readers()) GTEST_SKIP() << "mdbtools and mdb-reader are both needed";
    if (!intact_is_sound(c.file.path)) GTEST_SKIP() << "the corpus file itself has problems";

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    const auto hit = apply_page_copy(c.file.path, bytes, c.kind);
    if (!hit) GTEST_SKIP() << "no pages to copy for " << copy_kind_name(c.kind) << " in this file";
    write_bytes(database, bytes);
    SCOPED_TRACE("page " + std::to_string(hit->source) + " of " + hit->source_table + " over page " +
                 std::to_string(hit->target) + " of " + hit->table);

    Figures& f = figures()[{copy_kind_name(c.kind), format_family(c.file.format)}];
    ++f.files;
    jet::Report report;
    try {
        report = jet::repair_database(database);
    } catch (const std::exception& e) {
        ++f.refused;
        FAIL() << "the repair refused: " << e.what();
    }
    ASSERT_FALSE(report.backup.empty()) << "the damage was not repaired";
    EXPECT_EQ(read_bytes(report.backup), bytes) << "the backup must be the damaged file byte for byte";
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

    for (const jet::Finding& x : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(x)) << x.code << ": " << x.description << " (" << x.object << ")";
    const auto repaired = read_bytes(database);
    jet::Report second;
    ASSERT_NO_THROW(second = jet::repair_database(database));
    EXPECT_TRUE(second.backup.empty()) << "a second repair rewrote the file";
    EXPECT_EQ(read_bytes(database), repaired);

    // The better reader's floor over the overwritten table; the copied rows count once in it.
    bool whole = true;
    Floor best;
    std::size_t invented_before = 0;
    for (Reader reader : {Reader::Mdbtools, Reader::MdbReader}) {
        SCOPED_TRACE(reader_name(reader));
        const Reading now = read_with(reader, database);
        EXPECT_TRUE(now.whole()) << "the repaired file is not read whole";
        whole = whole && now.whole();
        const Reading& intact = intact_reading(reader, c.file.path);
        const Reading damaged = read_with(reader, report.backup);
        const Floor all = measure_floor(intact, damaged, now);
        EXPECT_EQ(all.invented, 0u) << (all.examples.empty() ? "" : all.examples.front());
        EXPECT_EQ(all.missing, 0u) << (all.examples.empty() ? "" : all.examples.front());
        const Reading intact_here = only_table(intact, hit->table), damaged_here = only_table(damaged, hit->table);
        const Floor here = measure_floor(intact_here, damaged_here, only_table(now, hit->table));
        EXPECT_LE(here.intact - here.kept, hit->rows_lost) << "more rows lost than the overwritten page held";
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
