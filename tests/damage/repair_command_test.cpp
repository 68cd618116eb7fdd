// jetrepair repair FILE: what it prints and the exit codes it returns.
#include <gtest/gtest.h>

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
