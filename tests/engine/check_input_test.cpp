// Files that cannot be examined at all make check_database throw EngineError with a
// Spanish description; nothing else escapes.
#include "check_support.h"
#include "jet/engine.h"

namespace {

std::string error_of(const std::filesystem::path& p) {
    try {
        jet::check_database(p);
    } catch (const jet::EngineError& e) {
        return e.what();
    }
    return {};
}

TEST(CheckInput, PathsThatAreNoFileAreRefused) {
    test::TempDir dir;
    EXPECT_NE(error_of("").find("No se ha indicado"), std::string::npos);
    EXPECT_NE(error_of(dir.path() / "falta.mdb").find("No se encuentra"), std::string::npos);
    EXPECT_NE(error_of(dir.path()).find("es una carpeta"), std::string::npos);
    test::write_bytes(dir.path() / "vacio.mdb", {});
    EXPECT_NE(error_of(dir.path() / "vacio.mdb").find("está vacío"), std::string::npos);
}

TEST(CheckInput, BytesThatAreNoDatabaseAreRefused) {
    test::TempDir dir;
    const auto text = dir.path() / "texto.mdb";
    std::vector<uint8_t> bytes(8192, 'x');
    test::write_bytes(text, bytes);
    EXPECT_NE(error_of(text).find("no es una base de datos"), std::string::npos);

    const auto zeros = dir.path() / "ceros.accdb";
    test::write_bytes(zeros, std::vector<uint8_t>(3 * 4096, 0));
    EXPECT_NE(error_of(zeros).find("no es una base de datos"), std::string::npos);
}

TEST(CheckInput, TruncatedAndEncryptedDatabasesAreRefused) {
    test::DamagedCopy truncated("jackcess/V2003/test2V2003.mdb");
    REQUIRE_COPY(truncated);
    truncated.bytes().resize(6000);
    EXPECT_NE(error_of(truncated.save()).find("truncada"), std::string::npos);

    test::DamagedCopy header_only("jackcess/V1997/test2V1997.mdb");
    REQUIRE_COPY(header_only);
    header_only.bytes().resize(1000);
    EXPECT_FALSE(error_of(header_only.save()).empty());

    const auto encrypted = test::corpus_file("tika/testAccess2_encrypted.accdb");
    if (!std::filesystem::exists(encrypted)) GTEST_SKIP() << "corpus file absent: " << encrypted;
    EXPECT_NE(error_of(encrypted).find("cifrada"), std::string::npos);
}

}  // namespace
