// A zeroed sector in a long-value page of an Access system table, on every readable corpus
// file: a catalog row's property blob, or another system table's value. Judged by both
// independent readers: the repair succeeds, our check finds nothing after it, a second
// repair changes nothing, the backup is the damaged file, both readers read the repaired
// file whole, and it keeps every row a reader got from the damaged file and invents none.
// Damage that leaves nothing wrong to find (a value whose contents have no structure we
// know) must leave a file both readers still read whole and unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "blob_damage.h"
#include "corpus_support.h"
#include "jet/engine.h"
#include "repair_judge.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

constexpr Reader kReaders[] = {Reader::Mdbtools, Reader::MdbReader};

struct Figures {
    std::size_t cases = 0, repaired = 0, refused = 0, nothing_found = 0;
    std::map<Reader, std::size_t> whole_before, whole_after;
    Floor floor;  // both readers summed
};

std::map<std::pair<std::string, std::string>, Figures> figures;
const bool printed = (print_at_end([] {
    if (figures.empty()) return;
    std::cout << "\n== System long values with a zeroed sector (kind, format: cases, repaired / refused / "
                 "nothing found; read whole before -> after by mdbtools, mdb-reader; rows read from the damaged "
                 "file / kept / missing / invented, both readers) ==\n";
    for (auto& [key, f] : figures)
        std::cout << key.first << ", " << key.second << ": " << f.cases << " cases, " << f.repaired << " / "
                  << f.refused << " / " << f.nothing_found << "; mdbtools " << f.whole_before[Reader::Mdbtools]
                  << " -> " << f.whole_after[Reader::Mdbtools] << ", mdb-reader " << f.whole_before[Reader::MdbReader]
                  << " -> " << f.whole_after[Reader::MdbReader] << "; " << f.floor.read << " / " << f.floor.kept
                  << " / " << f.floor.missing << " / " << f.floor.invented << "\n";
}), true);

struct Case {
    CorpusFile file;
    BlobKind kind;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file.name << " / " << blob_kind_name(c.kind); }

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const CorpusFile& file : readable_corpus())
        for (BlobKind kind : all_blob_kinds()) cases.push_back({file, kind});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(info.param.file.name + "_" + blob_kind_name(info.param.kind));
}

class BlobDamageRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(BlobDamageRepair, RepairedFileReadsWholeWithEveryRowKept) {
    const Case& c = GetParam();
    if (const auto why = why_unusable(c.file)) GTEST_SKIP() << *why;

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    const auto hit = apply_blob_damage(c.file.path, bytes, c.kind);
    if (!hit) GTEST_SKIP() << "no " << blob_kind_name(c.kind) << " stored outside its row in this file";
    write_bytes(database, bytes);
    SCOPED_TRACE(hit->note);

    Figures& f = figures[{blob_kind_name(c.kind), format_family(c.file.format)}];
    ++f.cases;
    const Readings damaged = read_with_both(database);
    for (Reader r : kReaders) f.whole_before[r] += damaged.at(r).whole();

    jet::Report report;
    try {
        report = jet::repair_database(database);
    } catch (const std::exception& e) {
        ++f.refused;
        FAIL() << "the repair refused the file: " << e.what();
    }
    if (report.backup.empty()) {
        // Nothing found: the zeros must then have left every reader's view of the file as it was.
        ++f.nothing_found;
        for (Reader r : kReaders) {
            f.whole_after[r] += damaged.at(r).whole();
            EXPECT_TRUE(damaged.at(r).whole()) << reader_name(r) << " fails on a file our check finds sound";
            const Floor floor = measure_floor(intact_reading(r, c.file.path), damaged.at(r), damaged.at(r));
            EXPECT_EQ(floor.read, floor.intact) << reader_name(r) << " reads rows the check did not see damaged";
        }
        return;
    }
    ++f.repaired;
    expect_settled(database, report, bytes);
    // What went is the damaged table's long values, kept in the recovery file.
    EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(), [&](const jet::Finding& finding) {
        return finding.code.rfind("LV_", 0) == 0 && finding.object.find(hit->table) != std::string::npos;
    })) << "no long-value finding names " << hit->table;
    EXPECT_FALSE(report.recovery.empty()) << "the dropped values are not in a recovery file";

    const Readings repaired = read_with_both(database);
    const Verdict verdict = expect_floors_kept(c.file.path, damaged, repaired);
    for (Reader r : kReaders) {
        f.whole_after[r] += repaired.at(r).whole();
        f.floor += verdict.floors.at(r);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BlobDamageRepair, ::testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BlobDamageRepair);
