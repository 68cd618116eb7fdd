#include <gtest/gtest.h>

#include <set>
#include <string>

#include "jet/check/problems.h"
#include "jet/repair/repair.h"

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

// A fix text promises a fix: a problem has one, or is a note left as it is, or its text
// says the repair refuses it (and then the repair blocks on it: no fix).
TEST(CheckProblems, EveryFixTextHasItsFix) {
    for (const auto& row : jet::problem_table()) {
        const bool refused = row.fix.starts_with(jet::kNoFixText);
        if (refused) {
            EXPECT_EQ(row.fixed_by, jet::Fix::none) << row.code;
        } else if (row.severity != jet::Severity::Info) {
            EXPECT_NE(row.fixed_by, jet::Fix::none) << row.code;
        }
        EXPECT_EQ(jet::fix_for(row.id) != nullptr, row.fixed_by != jet::Fix::none) << row.code;
        EXPECT_EQ(jet::fix_for(row.code), jet::fix_for(row.id)) << row.code;
    }
    EXPECT_EQ(jet::fix_for(jet::Problem::CatTableSharedTdef), nullptr);
    EXPECT_EQ(jet::fix_for(jet::Problem::CatDuplicateName), nullptr);
}

// The object a finding names is its most precise structure within its table.
TEST(CheckProblems, ObjectTextNamesTheMostPreciseStructure) {
    const struct {
        jet::Location where;
        const char* text;
    } cases[] = {
        {{}, "archivo"},
        {{.page = 7}, "página 7"},
        {{.definition_page = 9, .table = "T"}, "tabla T"},
        {{.page = 7, .table = "T"}, "tabla T, página 7"},
        {{.page = 7, .slot = 3, .table = "T", .column_name = "C"}, "tabla T, página 7, fila 3"},
        {{.table = "T", .column_name = "C"}, "tabla T, columna C"},
        {{.page = 7, .slot = 3, .table = "T", .index = 1, .index_name = "I"}, "tabla T, índice I"},
        {{.table = "", .column_name = ""}, "tabla , columna "},  // damaged names still apply
    };
    for (const auto& c : cases) EXPECT_EQ(jet::object_text(c.where), c.text);
    // A problem about one fixed structure names it, wherever the finding lies.
    EXPECT_EQ(jet::make_finding(jet::Problem::HdrCodePage, {.page = 0}, {"0"}).object, "cabecera (página 0)");
}

TEST(CheckProblems, FillTemplateReplacesNumberedPlaceholdersOnly) {
    EXPECT_EQ(jet::fill_template("a {0} b {1} {0}", {"x", "y"}), "a x b y x");
    EXPECT_EQ(jet::fill_template("{2} {x} {} {", {"a"}), "{2} {x} {} {");
    EXPECT_EQ(jet::fill_template("", {}), "");
}

TEST(CheckProblems, MakeFindingFillsCodeSeverityAndText) {
    auto f = jet::make_finding(jet::Problem::TdefRowcountStale, jet::Location{.table = "Clientes"}, {"10", "12"});
    EXPECT_EQ(f.code, "TDEF_ROWCOUNT_STALE");
    EXPECT_EQ(f.severity, jet::Severity::Warning);
    EXPECT_EQ(f.object, "tabla Clientes");
    EXPECT_NE(f.description.find("(10)"), std::string::npos);
    EXPECT_NE(f.description.find("(12)"), std::string::npos);
    EXPECT_EQ(f.problem, jet::Problem::TdefRowcountStale);
    EXPECT_EQ(f.location.table, "Clientes");
}

}  // namespace
