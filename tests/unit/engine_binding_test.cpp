// The engine seam over jet::repair_database: paths that are awkward to spell reach
// the engine intact, bad input comes back as a description, and nothing is lost.
#include <gtest/gtest.h>

#include "platform/engine/jet_engine.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSample = "jackcess/V2000/test2V2000.mdb";

std::u16string u16(const fs::path& path) { return platform::utf16_from_utf8(path.string()); }

class EngineBindingTest : public ::testing::Test {
protected:
    // The description of the failure, or empty when the repair succeeded.
    std::u16string repair(const fs::path& path) {
        try {
            engine->repair_database(u16(path));
        } catch (const platform::Failure& failure) {
            EXPECT_FALSE(failure.description().empty());
            return failure.description();
        }
        return {};
    }
    fs::path sample_copy(const std::string& name) {
        const fs::path source = fs::path(TARSOLIN_CORPUS_DIR) / kSample;
        if (!fs::exists(source)) return {};
        const fs::path copy = temp.path() / name;
        fs::copy_file(source, copy);
        return copy;
    }
    TempFolder temp;
    std::unique_ptr<platform::DatabaseEngine> engine = platform::JetEngineFactory().create();
};

TEST_F(EngineBindingTest, BadPathsComeBackAsDescriptions) {
    EXPECT_NE(repair(""), u"");
    EXPECT_NE(repair(temp.path() / "no existe.mdb"), u"");
    EXPECT_FALSE(fs::exists(temp.path() / "no existe.mdb"));
    fs::create_directories(temp.path() / "carpeta.mdb");
    EXPECT_NE(repair(temp.path() / "carpeta.mdb"), u"");
    EXPECT_TRUE(fs::is_empty(temp.path() / "carpeta.mdb"));
    write_file(temp.path() / "texto.mdb", "esto no es una base de datos");
    EXPECT_NE(repair(temp.path() / "texto.mdb"), u"");
    EXPECT_EQ(read_file(temp.path() / "texto.mdb"), "esto no es una base de datos");
}

TEST_F(EngineBindingTest, CleanFileAtAnAwkwardPathIsLeftAsItWas) {
    const fs::path copy = sample_copy("copia de año (ñandú).mdb");
    if (copy.empty()) GTEST_SKIP() << "corpus not found in " << TARSOLIN_CORPUS_DIR;
    const std::string before = read_file(copy);
    EXPECT_EQ(repair(copy), u"");
    EXPECT_EQ(read_file(copy), before);
}

TEST_F(EngineBindingTest, ReadOnlyFileLosesNothing) {
    const fs::path copy = sample_copy("solo lectura.mdb");
    if (copy.empty()) GTEST_SKIP() << "corpus not found in " << TARSOLIN_CORPUS_DIR;
    make_read_only(copy);
    const std::string before = read_file(copy);
    repair(copy);  // a clean file needs no writing; either way the bytes stay
    EXPECT_EQ(read_file(copy), before);
}

}  // namespace
