// `jetrepair check FILE`: one line per problem, a Spanish summary, fsck-like exit codes.
#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "check_locate.h"

namespace {

const char* const kTool = JETREPAIR_EXE;

struct ToolRun {
    int status = -1;
    std::string out;  // stdout and stderr together
};

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ToolRun jetrepair_check(const std::string& file) {
    ToolRun r;
    const std::string command = quoted(kTool) + " check " + quoted(file) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}


TEST(CheckCli, CleanFileExitsZeroWithASummary) {
    const auto file = test::corpus_file("jackcess/V2003/test2V2003.mdb");
    REQUIRE_CORPUS_FILE(file);
    const ToolRun r = jetrepair_check(file.string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("No se ha encontrado ningún problema"), std::string::npos) << r.out;
}

TEST(CheckCli, ProblemsArePrintedOnePerLineAndExitFour) {
    test::Damage d("jackcess/V2003/test2V2003.mdb");
    REQUIRE_DAMAGE(d);
    d.put32(d.tdef_at("MSP_PROJECTS", d.layout().tdef_num_rows), 5);
    const auto report = d.check();  // also saves the damaged copy
    ASSERT_EQ(report.findings.size(), 1u) << test::describe(report);
    const ToolRun r = jetrepair_check(d.db().path().string());
    EXPECT_EQ(r.status, 4) << r.out;
    EXPECT_NE(r.out.find("TDEF_ROWCOUNT_STALE\taviso\ttabla MSP_PROJECTS\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Se ha encontrado 1 problema"), std::string::npos) << r.out;
}

// Access leaves the counts of its own tables stale as a rule: a note, printed, exit 0.
TEST(CheckCli, NotesAloneArePrintedAndExitZero) {
    test::Damage d("jackcess/V2003/test2V2003.mdb");
    REQUIRE_DAMAGE(d);
    d.put32(d.tdef_at("MSysObjects", d.layout().tdef_num_rows), 5);
    const auto report = d.check();
    ASSERT_EQ(report.findings.size(), 1u) << test::describe(report);
    EXPECT_EQ(report.findings[0].severity, jet::Severity::Info);
    const ToolRun r = jetrepair_check(d.db().path().string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("TDEF_ROWCOUNT_STALE\tinfo\ttabla MSysObjects\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No se ha encontrado ningún problema"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(1 nota)"), std::string::npos) << r.out;
}

TEST(CheckCli, UnexaminableInputExitsEightWithASpanishReason) {
    test::TempDir dir;
    test::write_bytes(dir.path() / "vacio.mdb", {});
    test::write_bytes(dir.path() / "texto.accdb", std::vector<uint8_t>(9000, 'a'));
    std::vector<std::string> inputs = {"", (dir.path() / "falta.mdb").string(), dir.path().string(),
                                       (dir.path() / "vacio.mdb").string(), (dir.path() / "texto.accdb").string()};
    const auto encrypted = test::corpus_file("tika/testAccess2_encrypted.accdb");
    if (std::filesystem::exists(encrypted)) inputs.push_back(encrypted.string());
    for (const auto& input : inputs) {
        const ToolRun r = jetrepair_check(input);
        EXPECT_EQ(r.status, 8) << "«" << input << "» " << r.out;
        EXPECT_NE(r.out.find("jetrepair: "), std::string::npos) << r.out;
    }
}

}  // namespace
