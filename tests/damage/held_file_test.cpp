// The repair reads the database only through the handle its lock holds (on Windows that
// handle shares nothing, so a second open by path would fail): pages, the check and the
// header read through a NativeFile must be exactly what reading by path gives.
#include <gtest/gtest.h>

#include "jet/engine.h"
#include "corpus_support.h"
#include "injector.h"
#include "jet/check/check.h"
#include "jet/format/database.h"
#include "jet/file/file_lock.h"
#include "jet/file/native_file.h"
#include "jet/file/page_file.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

TEST(HeldFile, PagesReadThroughAHandleAreThePagesReadByPath) {
    const fs::path file = corpus_dir() / "jackcess/V2003/test2V2003.mdb";
    if (!fs::exists(file)) GTEST_SKIP() << "corpus not found at " << corpus_dir();
    const jet::NativeFile held = jet::NativeFile::open(file, jet::NativeFile::Mode::Read);
    jet::PageFile through(held);
    jet::PageFile by_path(file);
    through.set_page_size(4096);
    by_path.set_page_size(4096);
    ASSERT_EQ(through.page_count(), by_path.page_count());
    EXPECT_EQ(through.read_prefix(100), by_path.read_prefix(100));
    through.set_cache_capacity(2);  // evictions re-read through the handle
    for (uint32_t p = 0; p < by_path.page_count(); ++p) {
        const jet::PageRef a = through.fetch(p);
        const jet::PageRef b = by_path.fetch(p);
        ASSERT_TRUE(std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin(), b.bytes().end())) << p;
    }
    EXPECT_TRUE(through.fetch(by_path.page_count()).empty());
    std::vector<uint8_t> page(4096, 0);
    EXPECT_FALSE(through.write_page(3, page)) << "a held database is never written through the reader";
}

TEST(HeldFile, CheckThroughTheLockFindsWhatTheCheckByPathFinds) {
    const fs::path source = corpus_dir() / "jackcess/V2000/test2V2000.mdb";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus not found at " << corpus_dir();
    TempFolder folder;
    const fs::path database = folder / "test2V2000.mdb";
    auto bytes = read_bytes(source);
    ASSERT_TRUE(damage::apply(bytes, Damage{Kind::FlipMapBit}));
    ASSERT_TRUE(damage::apply(bytes, Damage{Kind::TornAppend}));
    write_bytes(database, bytes);
    const jet::Report by_path = jet::check_database(database);
    jet::DatabaseLock lock(database);
    const jet::Report held = jet::check_open_file(lock.file());
    ASSERT_EQ(held.findings.size(), by_path.findings.size());
    for (std::size_t i = 0; i < held.findings.size(); ++i) {
        EXPECT_EQ(held.findings[i].code, by_path.findings[i].code);
        EXPECT_EQ(held.findings[i].description, by_path.findings[i].description);
    }
    EXPECT_GE(held.findings.size(), 2u);
}

TEST(HeldFile, EmptyOrForeignFileIsRefusedWithItsName) {
    TempFolder folder;
    const fs::path empty = folder / "vacía.mdb";
    write_bytes(empty, {});
    const jet::NativeFile held = jet::NativeFile::open(empty, jet::NativeFile::Mode::Read);
    try {
        jet::check_open_file(held);
        ADD_FAILURE() << "an empty file was examined";
    } catch (const jet::EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("vacía.mdb"), std::string::npos) << error.what();
    }
    const fs::path text = folder / "notas.mdb";
    write_bytes(text, std::vector<uint8_t>(8192, 'x'));
    const jet::NativeFile other = jet::NativeFile::open(text, jet::NativeFile::Mode::Read);
    EXPECT_THROW(jet::check_open_file(other), jet::EngineError);
}
