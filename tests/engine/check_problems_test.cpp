#include <gtest/gtest.h>

#include <set>
#include <string>

#include "jet/problems.h"

namespace {

TEST(CheckProblems, EveryRowHasAUniqueCodeAndBothTexts) {
    std::set<std::string> codes;
    for (const auto& row : jet::problem_table()) {
        std::string code(row.code);
        EXPECT_TRUE(codes.insert(code).second) << "código repetido " << code;
        EXPECT_FALSE(row.found.empty()) << code;
        EXPECT_FALSE(row.fix.empty()) << code;
        for (char c : code) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') << code;
        EXPECT_EQ(jet::find_problem(code), &row);
    }
    EXPECT_EQ(codes.size(), static_cast<std::size_t>(jet::Problem::Count));
    EXPECT_EQ(jet::find_problem("NO_SUCH_CODE"), nullptr);
}

TEST(CheckProblems, FillTemplateReplacesNumberedPlaceholdersOnly) {
    EXPECT_EQ(jet::fill_template("a {0} b {1} {0}", {"x", "y"}), "a x b y x");
    EXPECT_EQ(jet::fill_template("{2} {x} {} {", {"a"}), "{2} {x} {} {");
    EXPECT_EQ(jet::fill_template("", {}), "");
}

TEST(CheckProblems, MakeFindingFillsCodeSeverityAndText) {
    auto f = jet::make_finding(jet::Problem::TdefRowcountStale, "tabla Clientes", {"10", "12"});
    EXPECT_EQ(f.code, "TDEF_ROWCOUNT_STALE");
    EXPECT_EQ(f.severity, jet::Severity::Warning);
    EXPECT_EQ(f.object, "tabla Clientes");
    EXPECT_NE(f.description.find("(10)"), std::string::npos);
    EXPECT_NE(f.description.find("(12)"), std::string::npos);
}

}  // namespace
