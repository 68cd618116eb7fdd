// Garbage written over a page that no structure uses and the global map does not free:
// the repair saves the page's bytes to the recovery file and empties it; nothing else
// changes and every row still reads.
#include <gtest/gtest.h>

#include <fstream>

#include "jet/engine.h"
#include "corpus_support.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

TEST(UnknownPageRepair, GarbageOnAnUnusedPageIsSavedThenEmptied) {
    // corrupted.accdb has never-used (all-zero) pages the global map does not free.
    const fs::path intact = corpus_dir() / "ucanaccess/corrupted.accdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const std::vector<uint8_t> original = read_bytes(intact);
    constexpr std::size_t kPage = 4096;
    std::size_t target = 0;
    for (std::size_t p = 3; p < original.size() / kPage && target == 0; ++p)
        if (std::all_of(original.begin() + p * kPage, original.begin() + (p + 1) * kPage, [](uint8_t b) { return b == 0; }))
            target = p;
    ASSERT_NE(target, 0u);
    std::vector<uint8_t> bytes = original;
    uint32_t state = 7;
    for (std::size_t i = 0; i < kPage; ++i) bytes[target * kPage + i] = uint8_t((state = state * 1103515245u + 12345u) >> 16);
    bytes[target * kPage] = 0x7F;  // no page type has this number

    TempFolder folder;
    const fs::path database = folder / "corrupted.accdb";
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(),
                            [](const jet::Finding& f) { return f.code == "PAGE_TYPE_UNKNOWN"; }));
    // The file also holds a real repeated key in table UK: that one row goes too.
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false, {},
                        /*may_lose_tables=*/false, {{"UK", 1}});

    const std::vector<uint8_t> repaired = read_bytes(database);
    EXPECT_TRUE(std::all_of(repaired.begin() + target * kPage, repaired.begin() + (target + 1) * kPage,
                            [](uint8_t b) { return b == 0; }));
    ASSERT_FALSE(report.recovery.empty());
    std::ifstream saved(report.recovery);
    std::string line;
    ASSERT_TRUE(std::getline(saved, line));
    EXPECT_NE(line.find("\"pagina\":" + std::to_string(target)), std::string::npos) << line.substr(0, 200);
}
