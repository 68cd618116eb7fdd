// A database reached through symbolic links is repaired where it lives, and the links stay
// as they were; a file with several names (hard links) is refused, since replacing one
// name would split it from the others.
#include <gtest/gtest.h>

#include <algorithm>

#include "corpus_support.h"
#include "injector.h"
#include "jet/engine.h"
#include "jet/repair/repair.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A file cut short after a torn append: the repair gives back the intact bytes and saves
// the torn tail to the recovery file, so every file a repair writes is there to look for.
class LinkedPath : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path source = corpus_dir() / "jackcess/V2000/test2V2000.mdb";
        if (!fs::exists(source)) GTEST_SKIP() << "corpus file missing: " << source;
        intact = read_bytes(source);
        damaged = intact;
        ASSERT_TRUE(damage::apply(damaged, Damage{Kind::TornAppend}));
        fs::create_directory(home);
        write_bytes(real, damaged);
    }
    TempFolder folder;
    fs::path home = folder / "datos";
    fs::path real = home / "real.mdb";
    std::vector<uint8_t> intact, damaged;
};

}  // namespace

TEST_F(LinkedPath, ChainOfSymbolicLinksLeadsTheRepairToTheFile) {
    fs::create_symlink(real, folder / "otra.mdb");
    fs::create_symlink("otra.mdb", folder / "enlace.mdb");

    const jet::Report report = jet::repair_database(folder / "enlace.mdb");

    EXPECT_EQ(read_bytes(real), intact);
    EXPECT_EQ(report.backup, home / "real (copia de seguridad).mdb");
    EXPECT_EQ(read_bytes(report.backup), damaged);
    EXPECT_EQ(report.recovery, home / "real (datos recuperados).jsonl");
    EXPECT_EQ(fs::read_symlink(folder / "enlace.mdb"), "otra.mdb");
    EXPECT_EQ(fs::read_symlink(folder / "otra.mdb"), real);
    EXPECT_EQ(names_in(folder.path()), (std::vector<std::string>{"datos", "enlace.mdb", "otra.mdb"}));
    EXPECT_EQ(names_in(home), (std::vector<std::string>{"real (copia de seguridad).mdb",
                                                        "real (datos recuperados).jsonl", "real.mdb"}));
    EXPECT_TRUE(jet::check_database(folder / "enlace.mdb").findings.empty());
}

TEST_F(LinkedPath, LinkToNothingIsRefusedWithTheLinksName) {
    fs::create_symlink(home / "falta.mdb", folder / "roto.mdb");
    try {
        jet::repair_database(folder / "roto.mdb");
        FAIL() << "a link to nothing was repaired";
    } catch (const jet::EngineError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("roto.mdb»"), std::string::npos) << text;
        EXPECT_NE(text.find("enlace simbólico"), std::string::npos) << text;
    }
    EXPECT_EQ(names_in(folder.path()), (std::vector<std::string>{"datos", "roto.mdb"}));
}

TEST_F(LinkedPath, FileWithSeveralNamesIsRefusedAndLeftAsItWas) {
    fs::create_hard_link(real, folder / "alias.mdb");
    EXPECT_FALSE(jet::check_database(folder / "alias.mdb").findings.empty()) << "checking reads and writes nothing";
    try {
        jet::repair_database(folder / "alias.mdb");
        FAIL() << "a file with two names was replaced under one of them";
    } catch (const jet::EngineError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("alias.mdb»"), std::string::npos) << text;
        EXPECT_NE(text.find("2 nombres (enlaces físicos)"), std::string::npos) << text;
    }
    EXPECT_EQ(read_bytes(real), damaged);
    EXPECT_EQ(fs::hard_link_count(real), 2u);
    EXPECT_EQ(names_in(folder.path()), (std::vector<std::string>{"alias.mdb", "datos"}));
    EXPECT_EQ(names_in(home), (std::vector<std::string>{"real.mdb"}));
}
