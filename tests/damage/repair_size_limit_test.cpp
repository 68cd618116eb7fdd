// The largest file Access opens (1 GiB Jet 3, 2 GiB Jet 4 and ACE): a repair that would
// grow a file past it is refused and leaves it as it was; a file already past it is still
// examined. Files reach the limit sparse (grown by setting their length), so no test writes
// gigabytes to the disk.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>

#include "corpus_support.h"
#include "injector.h"
#include "jet/file/recovery_file.h"
#include "jet/engine.h"
#include "jet/format/file_limits.h"
#include "jet/format/header.h"
#include "jet/repair/repair.h"
#include "jet/file/safe_commit.h"
#include "fix_context_copy.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

struct LimitCase {
    const char* file;
    uint64_t limit;
    const char* limit_text;
};

std::string case_name(const ::testing::TestParamInfo<LimitCase>& info) {
    return info.param.limit == jet::kMaxFileSizeJet3 ? "Jet3" : "Jet4";
}

class SizeLimit : public ::testing::TestWithParam<LimitCase> {};

}  // namespace

// The fixes add pages through one door: the page that would pass the limit is refused
// with the figure a user can check, and the copy keeps the size it had.
TEST_P(SizeLimit, AppendingPastTheLimitIsRefused) {
    const LimitCase& c = GetParam();
    const fs::path source = corpus_dir() / c.file;
    if (!fs::exists(source)) GTEST_SKIP() << "corpus file missing: " << source;
    FixContextOnCopy on(source);
    ASSERT_TRUE(on.parsed.header);
    jet::FixContext& context = on.context;
    const std::vector<uint8_t> blank(context.page_size(), 0);

    context.truncate(c.limit - context.page_size());  // grows the copy sparse
    context.append_page(blank);
    EXPECT_EQ(context.file_size(), c.limit) << "the last page Access accepts is taken";
    try {
        context.append_page(blank);
        FAIL() << "a page past " << c.limit << " bytes was added";
    } catch (const jet::EngineError& error) {
        const std::string what = error.what();
        EXPECT_NE(what.find(c.limit_text), std::string::npos) << what;
        EXPECT_NE(what.find("no se ha modificado"), std::string::npos) << what;
    }
    EXPECT_EQ(context.file_size(), c.limit);
}

INSTANTIATE_TEST_SUITE_P(Formats, SizeLimit,
                         ::testing::Values(LimitCase{"jackcess/V1997/compIndexTestV1997.mdb", jet::kMaxFileSizeJet3,
                                                     "1.073.741.824 bytes (1 GB)"},
                                           LimitCase{"jackcess/V2003/compIndexTestV2003.mdb",
                                                     jet::kMaxFileSizeJet4, "2.147.483.648 bytes (2 GB)"}),
                         case_name);

// A file whose length runs past the limit (sparse zeros, then half a table's data page) is
// examined as a database: the check names the partial page and the length. Nothing of the
// database lies past the limit (Access never writes there), so the repair cuts the file
// back to the limit instead of completing the page, which would grow it further.
TEST(SizeLimitRepair, FileAlreadyPastTheLimitIsCutBackToIt) {
    const fs::path source = corpus_dir() / "jackcess/V2003/compIndexTestV2003.mdb";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus file missing: " << source;
    const std::vector<uint8_t> intact = read_bytes(source);
    const std::optional<uint32_t> data_page = first_data_page_with_rows(intact);
    ASSERT_TRUE(data_page);
    TempFolder folder;
    const fs::path database = folder / "compIndexTestV2003.mdb";
    write_bytes(database, intact);
    fs::resize_file(database, jet::kMaxFileSizeJet4);
    {
        std::ofstream tail(database, std::ios::binary | std::ios::app);
        tail.write(reinterpret_cast<const char*>(intact.data()) + std::size_t(*data_page) * 4096, 2048);
    }
    ASSERT_EQ(fs::file_size(database), jet::kMaxFileSizeJet4 + 2048);

    const jet::Report found = jet::check_database(database);
    std::set<std::string> codes;
    for (const jet::Finding& f : found.findings) codes.insert(f.code);
    EXPECT_EQ(codes, (std::set<std::string>{"HDR_FILE_SIZE", "HDR_FILE_TOO_LARGE"}));

    const jet::Report repaired = jet::repair_database(database);
    EXPECT_EQ(fs::file_size(database), jet::kMaxFileSizeJet4);
    EXPECT_EQ(fs::file_size(repaired.backup), jet::kMaxFileSizeJet4 + 2048) << "the backup keeps the cut bytes";
    std::vector<uint8_t> head(intact.size());
    std::ifstream(database, std::ios::binary).read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    EXPECT_EQ(head, intact);
    EXPECT_TRUE(jet::check_database(database).clean());
}

// A page past the limit that the database reaches (here an index's root moved there) is
// not cut away: the check says which page and what it is part of, and the repair refuses
// without touching the file.
TEST(SizeLimitRepair, PagePastTheLimitInUseIsNotCut) {
    const fs::path source = corpus_dir() / "jackcess/V1997/compIndexTestV1997.mdb";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus file missing: " << source;
    std::vector<uint8_t> bytes = read_bytes(source);
    std::vector<uint8_t> root;
    constexpr size_t kPage = 2048;
    const uint32_t moved_to = static_cast<uint32_t>(jet::kMaxFileSizeJet3 / kPage) + 1;
    {
        jet::Database db(source);
        bool moved = false;
        for (const auto& t : db.user_tables()) {
            const auto& def = db.table_def(t.tdef_page());
            if (!def.table || def.table->real_indexes.empty() || def.table->pages.size() != 1) continue;
            const jet::RealIndex& index = def.table->real_indexes.front();
            const size_t at = size_t(t.tdef_page()) * kPage + index.descriptor_offset + db.layout().ri_root_page;
            ASSERT_EQ(jet::u32_at(bytes, at), index.root_page);
            root.assign(bytes.begin() + std::ptrdiff_t(index.root_page * kPage),
                        bytes.begin() + std::ptrdiff_t((index.root_page + 1) * kPage));
            for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(moved_to >> (8 * i));
            moved = true;
            break;
        }
        ASSERT_TRUE(moved) << "no user table with an index and a one-page definition";
    }
    TempFolder folder;
    const fs::path database = folder / "compIndexTestV1997.mdb";
    write_bytes(database, bytes);
    fs::resize_file(database, uint64_t(moved_to) * kPage);  // sparse up to the page past the limit
    std::ofstream(database, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(root.data()),
                                                                     std::streamsize(root.size()));
    const uint64_t size = fs::file_size(database);

    bool named = false;
    for (const jet::Finding& f : jet::check_database(database).findings)
        if (f.code == "HDR_FILE_TOO_LARGE_USED")
            named = f.description.find("página " + std::to_string(moved_to)) != std::string::npos;
    EXPECT_TRUE(named) << "the check names the page past the limit";
    EXPECT_THROW(jet::repair_database(database), jet::EngineError);
    EXPECT_EQ(fs::file_size(database), size);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"compIndexTestV1997.mdb"});
}
