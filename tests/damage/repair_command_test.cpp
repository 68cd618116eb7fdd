// jetrepair repair FILE: what it prints and the exit codes it returns.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "corpus_support.h"
#include "injector.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

TEST(RepairCommand, NothingToDoRepairedAndRefused) {
    const fs::path sample = corpus_dir() / "jackcess/V2003/test2V2003.mdb";
    if (!fs::exists(sample)) GTEST_SKIP() << "corpus not found";
    TempFolder folder;
    const fs::path database = folder / "Pedidos.mdb";
    auto bytes = read_bytes(sample);
    write_bytes(database, bytes);
    const std::string tool = shell_quote(JETREPAIR_EXE) + " repair " + shell_quote(database.string());

    const Command clean = run(tool);
    EXPECT_EQ(clean.exit_code, 0);
    EXPECT_NE(clean.out.find("no tiene problemas; no se ha modificado."), std::string::npos) << clean.out;

    damage::apply(bytes, Damage{Kind::TornAppend});
    write_bytes(database, bytes);
    const Command repaired = run(tool);
    EXPECT_EQ(repaired.exit_code, 0);
    EXPECT_NE(repaired.out.find("[HDR_FILE_SIZE]"), std::string::npos) << repaired.out;
    EXPECT_NE(repaired.out.find("arreglo: "), std::string::npos) << repaired.out;
    EXPECT_NE(repaired.out.find("ha sido reparada (1 problema)"), std::string::npos) << repaired.out;
    EXPECT_NE(repaired.out.find("Pedidos (copia de seguridad).mdb"), std::string::npos) << repaired.out;

    const Command missing = run(shell_quote(JETREPAIR_EXE) + " repair " + shell_quote((folder / "no.mdb").string()));
    EXPECT_EQ(missing.exit_code, 8);
}

// --json: one document on standard output that a program can read without the text.
TEST(RepairCommand, JsonDocumentsOfCheckRepairAndRefusal) {
    const fs::path sample = corpus_dir() / "jackcess/V2003/test2V2003.mdb";
    if (!fs::exists(sample)) GTEST_SKIP() << "corpus not found";
    TempFolder folder;
    const fs::path database = folder / "Pedidos.mdb";
    auto bytes = read_bytes(sample);
    damage::apply(bytes, Damage{Kind::TornAppend});
    write_bytes(database, bytes);
    const auto tool = [&](const std::string& arguments, const fs::path& file) {
        const Command c = run(shell_quote(JETREPAIR_EXE) + " " + arguments + " " + shell_quote(file.string()));
        return std::pair{c.exit_code, nlohmann::json::parse(c.out)};  // throws unless exactly one document
    };

    const auto [checked_exit, checked] = tool("check --json", database);
    EXPECT_EQ(checked_exit, 4);
    EXPECT_EQ(checked["command"], "check");
    EXPECT_EQ(checked["file"], database.string());
    EXPECT_EQ(checked["format"], "Jet 4");
    EXPECT_EQ(checked["exit_status"], 4);
    ASSERT_EQ(checked["findings"].size(), 1u) << checked.dump(2);
    const auto& finding = checked["findings"][0];
    EXPECT_EQ(finding["code"], "HDR_FILE_SIZE");
    EXPECT_TRUE(finding["severity"] == "error" || finding["severity"] == "warning") << finding;
    EXPECT_TRUE(finding["object"].is_string() && finding["description"].is_string()) << finding;
    EXPECT_EQ(finding["location"], nlohmann::json({{"page", 0}})) << "the header's size is a finding about page 0";

    const auto [repaired_exit, repaired] = tool("repair --json", database);
    EXPECT_EQ(repaired_exit, 0);
    EXPECT_EQ(repaired["exit_status"], 0);
    EXPECT_EQ(repaired["repaired"], true);
    ASSERT_EQ(repaired["findings"].size(), 1u) << repaired.dump(2);
    EXPECT_EQ(repaired["findings"][0]["code"], "HDR_FILE_SIZE");
    EXPECT_TRUE(repaired["findings"][0]["fix"].is_string()) << repaired.dump(2);
    EXPECT_EQ(repaired["backup"], (folder / "Pedidos (copia de seguridad).mdb").string());
    EXPECT_TRUE(fs::exists(repaired["backup"].get<std::string>()));
    // The cut page's bytes are saved before they go.
    EXPECT_EQ(repaired["recovery"], (folder / "Pedidos (datos recuperados).jsonl").string());
    EXPECT_EQ(repaired["unsaved"], 0);

    const auto [again_exit, again] = tool("repair --json", database);
    EXPECT_EQ(again_exit, 0);
    EXPECT_EQ(again["repaired"], false);
    EXPECT_TRUE(again["backup"].is_null());

    const auto [refused_exit, refused] = tool("repair --json", folder / "no.mdb");
    EXPECT_EQ(refused_exit, 8);
    EXPECT_EQ(refused["exit_status"], 8);
    EXPECT_TRUE(refused["format"].is_null());
    EXPECT_TRUE(refused["error"].is_string() && !refused["error"].get<std::string>().empty()) << refused;
}
