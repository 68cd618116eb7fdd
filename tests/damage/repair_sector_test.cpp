// One zeroed 512-byte sector inside a used page (a write that never reached the disk), on
// every readable corpus file, judged by both independent readers: the repair succeeds, our
// check is clean afterwards, a second repair changes nothing, the backup is the damaged
// file, both readers read the repaired file whole, every row either reader gets from the
// damaged file is still there, and no row or table appears that the intact file lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "corpus_support.h"
#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/engine.h"
#include "jet/check/lost_tables.h"
#include "jet/repair/repair.h"
#include "sector_damage.h"
#include "temp_folder.h"
#include "two_readers.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct Figures {
    std::size_t files = 0, kept = 0, floor = 0, intact = 0, invented = 0, whole = 0, refused = 0;
};

std::map<std::pair<std::string, std::string>, Figures>& figures() {
    static std::map<std::pair<std::string, std::string>, Figures> f;
    return f;
}

class FiguresPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (figures().empty()) return;
        std::cout << "\n== Zeroed sector (kind, format: files, rows kept / better reader's floor from the damaged "
                     "file / intact; invented; read whole by both; refused) ==\n";
        for (const auto& [key, f] : figures())
            std::cout << key.first << ", " << key.second << ": " << f.files << " files, kept " << f.kept << " / floor "
                      << f.floor << " / intact " << f.intact << "; invented " << f.invented << "; whole " << f.whole
                      << "; refused " << f.refused << "\n";
    }
};
const auto* const printer = ::testing::AddGlobalTestEnvironment(new FiguresPrinter);

std::string format_family(const std::string& format) { return format.rfind("ACE", 0) == 0 ? "ACE" : format; }

struct Case {
    CorpusFile file;
    SectorKind kind;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file.name << " / " << sector_kind_name(c.kind); }

std::vector<Case> cases_of(const std::vector<SectorKind>& kinds) {
    std::vector<Case> cases;
    for (const CorpusFile& file : readable_corpus())
        for (SectorKind kind : kinds) cases.push_back({file, kind});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.file.name + "_" + sector_kind_name(info.param.kind);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

constexpr Reader kReaders[] = {Reader::Mdbtools, Reader::MdbReader};

// A table whose catalog row was lost comes back as Tabla_recuperada_<definition page>:
// its rows count under the intact file's name for that page.
Reading under_intact_names(Reading repaired, const fs::path& intact) {
    jet::Database db(intact);
    for (const jet::CatalogEntry& e : db.catalog().entries) {
        if (e.type != jet::object_type::table) continue;
        auto it = repaired.tables.find(jet::lost_table_name(e.tdef_page()));
        if (it == repaired.tables.end() || repaired.tables.count(e.name)) continue;
        auto rows = std::move(it->second);
        repaired.tables.erase(it);
        repaired.tables[e.name] = std::move(rows);
    }
    return repaired;
}

class SectorRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(SectorRepair, KeepsWhatReadersGetFromTheDamagedFile) {
    const Case& c = GetParam();
    if (!fs::exists(c.file.path)) GTEST_SKIP() << "corpus file missing: " << c.file.path;
    if (!have_both_readers()) GTEST_SKIP() << "mdbtools or mdb-reader not installed";
    if (!intact_is_sound(c.file.path)) GTEST_SKIP() << "the corpus file itself has problems";

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    const auto hit = apply_sector_damage(c.file.path, bytes, c.kind);
    if (!hit) GTEST_SKIP() << "no target for " << sector_kind_name(c.kind) << " in this file";
    write_bytes(database, bytes);
    SCOPED_TRACE(hit->note);

    Figures& f = figures()[{sector_kind_name(c.kind), format_family(c.file.format)}];
    ++f.files;
    std::map<Reader, Reading> damaged;
    for (Reader r : kReaders) damaged[r] = read_with(r, database);

    jet::Report report;
    try {
        report = jet::repair_database(database);
    } catch (const std::exception& e) {
        ++f.refused;
        FAIL() << "the repair refused: " << e.what();
    }
    ASSERT_FALSE(report.backup.empty()) << "the damage was not repaired";
    EXPECT_EQ(read_bytes(report.backup), bytes) << "the backup must be the damaged file byte for byte";
    for (const jet::Finding& finding : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(finding)) << finding.code << ": " << finding.description << " (" << finding.object
                                             << ")";
    const auto repaired_bytes = read_bytes(database);
    jet::Report second;
    ASSERT_NO_THROW(second = jet::repair_database(database));
    EXPECT_TRUE(second.backup.empty()) << "a second repair rewrote the file";
    EXPECT_EQ(read_bytes(database), repaired_bytes);

    std::size_t floor = 0, kept = 0, intact_rows = 0, invented = 0;
    bool whole = true;
    for (Reader r : kReaders) {
        const Reading& intact = intact_reading(r, c.file.path);
        const Reading repaired = under_intact_names(read_with(r, database), c.file.path);
        EXPECT_TRUE(repaired.whole()) << reader_name(r) << " does not read the repaired file whole";
        whole = whole && repaired.whole();
        const Floor m = measure_floor(intact, damaged[r], repaired);
        std::string examples;
        for (const std::string& e : m.examples) examples += "\n  " + e.substr(0, 160);
        EXPECT_EQ(m.missing, 0u) << reader_name(r) << ": rows read from the damaged file are gone" << examples;
        EXPECT_EQ(m.invented, 0u) << reader_name(r) << ": rows the intact file lacks" << examples;
        for (const auto& [table, rows] : repaired.tables)
            EXPECT_TRUE(intact.tables.count(table)) << reader_name(r) << " lists a table the intact file lacks: " << table;
        if (m.read >= floor) {
            floor = m.read;
            kept = m.kept;
        }
        intact_rows = m.intact;
        invented += m.invented;
    }
    f.kept += kept;
    f.floor += floor;
    f.intact += intact_rows;
    f.invented += invented;
    f.whole += whole ? 1 : 0;
}

INSTANTIATE_TEST_SUITE_P(Corpus, SectorRepair, ::testing::ValuesIn(cases_of(met_sector_kinds())), case_name);
INSTANTIATE_TEST_SUITE_P(DISABLED_NotYetMet, SectorRepair, ::testing::ValuesIn(cases_of(unmet_sector_kinds())),
                         case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SectorRepair);
