// jetrepair dump as a program: output shape, exit codes and Spanish messages.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "corpus.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kJetrepair = JETREPAIR_EXE;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string sh_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Outcome jetrepair(const std::string& args) {
    Outcome r;
    // One name per process: ctest runs the cases in parallel, each in its own process.
    const fs::path err = fs::path(::testing::TempDir()) / ("jetrepair_stderr." + std::to_string(getpid()) + ".txt");
    std::string cmd = sh_quote(kJetrepair) + " " + args + " 2>" + sh_quote(err.string());
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe.get())) > 0) r.out.append(buf.data(), n);
    r.status = WEXITSTATUS(pclose(pipe.release()));
    {
        std::ifstream in(err);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    fs::remove(err);
    return r;
}


TEST(DumpCommand, IntactFileDumpsEverythingWithExitZero) {
    auto file = test::corpus_file("jackcess/V1997/overflowTestV1997.mdb");
    REQUIRE_CORPUS_FILE(file);
    Outcome r = jetrepair("dump " + sh_quote(file.string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    json j = json::parse(r.out);
    ASSERT_EQ(j["tables"].size(), 1u);
    EXPECT_EQ(j["tables"][0]["rows"].size(), 7u);
    EXPECT_EQ(j["tables"][0]["columns"][0]["type"], "text");
}

TEST(DumpCommand, TableOptionSelectsOneTable) {
    auto file = test::corpus_file("tika/testAccess2_2000.mdb");
    REQUIRE_CORPUS_FILE(file);
    Outcome r = jetrepair("dump --table Table2 " + sh_quote(file.string()));
    EXPECT_EQ(r.status, 0);
    json j = json::parse(r.out);
    ASSERT_EQ(j["tables"].size(), 1u);
    EXPECT_EQ(j["tables"][0]["name"], "Table2");
    Outcome missing = jetrepair("dump --table NoHay " + sh_quote(file.string()));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("ninguna tabla «NoHay»"), std::string::npos) << missing.err;
}

TEST(DumpCommand, UnreadableFilesExitEightWithTheReason) {
    Outcome missing = jetrepair("dump /no/existe.mdb");
    EXPECT_EQ(missing.status, 8);
    EXPECT_NE(missing.err.find("No se encuentra el archivo"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");
    auto encrypted = test::corpus_file("tika/testAccess2_encrypted.accdb");
    REQUIRE_CORPUS_FILE(encrypted);
    Outcome r = jetrepair("dump " + sh_quote(encrypted.string()));
    EXPECT_EQ(r.status, 8);
    EXPECT_NE(r.err.find("está cifrada"), std::string::npos) << r.err;
}

TEST(DumpCommand, DamagedFileDumpsWhatDecodesAndExitsFour) {
    auto source = test::corpus_file("jackcess/V2000/compIndexTestV2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    // Zero the first data page of the one user table.
    uint32_t victim = 0;
    {
        jet::Database db(source);
        auto tables = db.user_tables();
        ASSERT_EQ(tables.size(), 1u);
        jet::Faults faults;
        auto pages = db.data_pages(*db.table_def(tables[0].tdef_page()).table, tables[0].name, faults);
        ASSERT_GT(pages.size(), 1u);
        victim = pages[0];
    }
    std::ifstream in(source, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::fill_n(bytes.begin() + long(victim) * 4096, 4096, 0);
    const fs::path copy = fs::path(::testing::TempDir()) / ("dump_damaged." + std::to_string(getpid()) + ".mdb");
    std::ofstream(copy, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));

    Outcome r = jetrepair("dump " + sh_quote(copy.string()));
    fs::remove(copy);
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("Omitido: tabla «Table1», página " + std::to_string(victim)), std::string::npos) << r.err;
    json j = json::parse(r.out);
    const size_t rows = j["tables"][0]["rows"].size();
    EXPECT_GT(rows, 0u);
    EXPECT_LT(rows, 512u);
}

TEST(DumpCommand, HelpIsSpanish) {
    Outcome r = jetrepair("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Uso"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Vuelca las tablas"), std::string::npos);
    EXPECT_NE(r.out.find("Muestra esta ayuda"), std::string::npos);
}

TEST(DumpCommand, VersionNamesTheFormats) {
    for (const char* flag : {"--version", "-V"}) {
        const Outcome r = jetrepair(flag);
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.out.rfind("jetrepair 1.00\n", 0), 0u) << r.out;
        for (const char* format : {"Jet 3", "Jet 4", "ACE"}) EXPECT_NE(r.out.find(format), std::string::npos) << r.out;
    }
}

// Wrong arguments are explained in Spanish, with none of the argument library's English.
TEST(DumpCommand, WrongArgumentsAreExplainedInSpanish) {
    const std::pair<const char*, const char*> cases[] = {
        {"dump", "falta el ARCHIVO de la base de datos"},
        {"", "falta la orden: check, repair o dump"},
        {"check a.mdb b.mdb", "no se esperaba «b.mdb»"},
        {"repair --rapido a.mdb", "no se esperaba «--rapido»"},
        {"dump a.mdb --table", "falta el valor de la opción --table"},
    };
    for (const auto& [arguments, reason] : cases) {
        const Outcome bad = jetrepair(arguments);
        EXPECT_EQ(bad.status, 2) << arguments;
        EXPECT_NE(bad.err.find(std::string("argumentos no válidos: ") + reason + "."), std::string::npos)
            << arguments << ": " << bad.err;
        for (const char* english : {"required", "expected", "subcommand", "argument "})
            EXPECT_EQ(bad.err.find(english), std::string::npos) << arguments << ": " << bad.err;
    }
}

}  // namespace
