// One byte flipped at a seeded place in a table definition (Access's own tables, the
// catalog's included, or the user's), on every readable corpus file: the repair never
// gives up on a file it can tell apart, what it leaves reads whole by both independent
// readers, and neither loses a row it still got from the damaged file.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>

#include "corpus_support.h"
#include "injector.h"
#include "jet/engine.h"
#include "jet/repair/repair.h"
#include "table_def_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct FlipFigures {
    std::size_t cases = 0, rewritten = 0, untouched = 0, refused = 0, whole_by_both = 0;
    Floor mdbtools, mdb_reader;
};

std::map<std::string, FlipFigures> figures;
const bool printed = (print_at_end([] {
    if (figures.empty()) return;
    std::cout << "\n== One byte flipped in a table definition (format: cases, rewritten / untouched / refused, "
                 "readable whole by both; per reader rows of the intact files / read from the damaged file / "
                 "kept / invented) ==\n";
    for (const auto& [format, f] : figures)
        std::cout << format << ": " << f.cases << " cases, " << f.rewritten << " / " << f.untouched << " / "
                  << f.refused << ", whole " << f.whole_by_both << "; mdbtools " << f.mdbtools.intact << " / "
                  << f.mdbtools.read << " / " << f.mdbtools.kept << " / " << f.mdbtools.invented << "; mdb-reader "
                  << f.mdb_reader.intact << " / " << f.mdb_reader.read << " / " << f.mdb_reader.kept << " / "
                  << f.mdb_reader.invented << "\n";
}), true);

struct FlipCase {
    CorpusFile file;
    unsigned seed;
};

void PrintTo(const FlipCase& c, std::ostream* out) { *out << c.file.name << " / flip " << c.seed; }

std::vector<FlipCase> flip_cases() {
    std::vector<FlipCase> cases;
    for (const CorpusFile& file : readable_corpus())
        for (unsigned seed : {1u, 2u}) cases.push_back({file, seed});
    return cases;
}

std::string flip_case_name(const ::testing::TestParamInfo<FlipCase>& info) {
    return test_name(info.param.file.name + "_" + std::to_string(info.param.seed));
}

// Flips one byte of a definition's first page, inside the definition, the seed choosing
// which definition, which byte and how. Returns "page N byte M" for the trace.
std::string flip_in_a_definition(std::vector<uint8_t>& file, unsigned seed) {
    const Layout l = layout_of(file);
    std::vector<uint32_t> pages = definition_pages(file);
    pages.push_back(2);  // the catalog's own definition
    std::mt19937 random(seed * 7919u + uint32_t(file.size()));
    const uint32_t page = pages[random() % pages.size()];
    const std::size_t at = std::size_t(page) * l.page_size;
    const uint32_t length = uint32_t(file[at + 8] | file[at + 9] << 8 | file[at + 10] << 16 | file[at + 11] << 24);
    const std::size_t span = std::min<std::size_t>(std::size_t(length) + 8, l.page_size);
    const std::size_t offset = random() % span;
    const uint8_t was = file[at + offset];
    file[at + offset] ^= uint8_t(1 + random() % 255);
    return "page " + std::to_string(page) + " byte " + std::to_string(offset) + ": " + std::to_string(was) + " -> " +
           std::to_string(file[at + offset]);
}

class DefinitionFlipRepair : public ::testing::TestWithParam<FlipCase> {};

}  // namespace

TEST_P(DefinitionFlipRepair, RepairsAndBothReadersKeepTheirRows) {
    const FlipCase& c = GetParam();
    if (const auto why = why_unusable(c.file)) GTEST_SKIP() << *why;

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    SCOPED_TRACE(flip_in_a_definition(bytes, c.seed));
    write_bytes(database, bytes);
    FlipFigures& f = figures[c.file.format];
    ++f.cases;

    jet::Report report;
    try {
        report = jet::repair_database(database);
    } catch (const jet::EngineError& error) {
        ++f.refused;
        ADD_FAILURE() << "refused: " << error.what();
        return;
    }
    (report.backup.empty() ? f.untouched : f.rewritten) += 1;
    expect_settled(database, report, bytes);

    const Readings damaged = read_with_both(report.backup.empty() ? database : report.backup);
    const Verdict verdict = expect_floors_kept(c.file.path, damaged, read_with_both(database));
    f.mdbtools += verdict.floors.at(Reader::Mdbtools);
    f.mdb_reader += verdict.floors.at(Reader::MdbReader);
    f.whole_by_both += verdict.whole_by_both;
}

INSTANTIATE_TEST_SUITE_P(Corpus, DefinitionFlipRepair, ::testing::ValuesIn(flip_cases()), flip_case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DefinitionFlipRepair);
