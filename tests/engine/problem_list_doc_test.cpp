// docs/problems.md is the problem table rendered as a page, so the list the documentation
// gives cannot drift from what the check reports. After changing the table, rewrite the page
// with TARSOLIN_WRITE_DOCS=1 engine_tests --gtest_filter='ProblemListDoc.*'.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "jet/check/problems.h"

namespace {

const char* severity_name(jet::Severity severity) {
    switch (severity) {
        case jet::Severity::Error: return "error";
        case jet::Severity::Warning: return "warning";
        case jet::Severity::Info: return "note";
    }
    return "?";
}

// A table cell: the text as it stands, with the characters Markdown would take for table syntax escaped.
std::string cell(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

std::string rendered_page() {
    std::ostringstream page;
    page << "# Problems the check reports\n\n"
            "Generated from the problem table (`jet/check/problems.cpp`) by `tests/engine/problem_list_doc_test.cpp`;\n"
            "do not edit by hand. In the order the repair applies the fixes. `{0}`, `{1}`, ... stand for\n"
            "what each finding fills in. Notes never make the repair rewrite a file.\n\n"
            "| code | severity | what was found | what the repair does |\n"
            "|---|---|---|---|\n";
    for (const jet::ProblemInfo& row : jet::problem_table())
        page << "| `" << row.code << "` | " << severity_name(row.severity) << " | " << cell(row.found) << " | "
             << cell(row.fix) << " |\n";
    return page.str();
}

TEST(ProblemListDoc, PageMatchesTheProblemTable) {
    const std::string path = std::string(TARSOLIN_DOCS_DIR) + "/problems.md";
    const std::string want = rendered_page();
    if (std::getenv("TARSOLIN_WRITE_DOCS")) std::ofstream(path, std::ios::binary) << want;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path << " is missing; write it with TARSOLIN_WRITE_DOCS=1";
    const std::string have((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(have, want) << path << " is out of date; rewrite it with TARSOLIN_WRITE_DOCS=1";
}

}  // namespace
