// What a check tells its progress receiver: its steps in order, and in the step over the
// tables' rows and indexes a count that only grows and ends at the step's total.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus.h"
#include "jet/engine.h"

namespace {

struct Recorded : jet::Progress {
    struct Step {
        std::string name;
        std::uint64_t pages;
        std::vector<std::uint64_t> done;
    };
    std::vector<Step> steps;
    void step(std::string_view name, std::uint64_t pages) override { steps.push_back({std::string(name), pages, {}}); }
    void advance(std::uint64_t done) override {
        ASSERT_FALSE(steps.empty()) << "progress before any step";
        steps.back().done.push_back(done);
    }
};

TEST(CheckProgress, StepsInOrderAndTablePagesCountUpToTheTotal) {
    const auto file = test::corpus_file("jackcess/V2003/test2V2003.mdb");
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "corpus not found: " << file;
    Recorded progress;
    const jet::Report with = jet::check_database(file, &progress);
    EXPECT_EQ(with.findings.size(), jet::check_database(file).findings.size()) << "progress changed the check";

    ASSERT_EQ(progress.steps.size(), 3u);
    const auto& tables = progress.steps[1];
    EXPECT_EQ(tables.name, "Comprobando filas e índices");
    ASSERT_GT(tables.pages, 0u);
    ASSERT_FALSE(tables.done.empty());
    for (std::size_t i = 1; i < tables.done.size(); ++i) EXPECT_GT(tables.done[i], tables.done[i - 1]);
    EXPECT_EQ(tables.done.back(), tables.pages);
    EXPECT_EQ(progress.steps[2].name, "Comprobando el mapa de páginas");
}

}  // namespace
