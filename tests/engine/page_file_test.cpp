// The page cache: bounded, and handles that outlive eviction.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <type_traits>

#include "jet/file/page_file.h"
#include "jet/base/parallel.h"

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kPageSize = 512;

// Page n is filled with the byte n.
class PageFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() / ("page_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::ofstream out(path_, std::ios::binary);
        for (int n = 0; n < 40; ++n) out << std::string(kPageSize, static_cast<char>(n));
        out << "partial";
    }
    void TearDown() override { fs::remove(path_); }

    jet::PageFile open(jet::PageFile::Mode mode = jet::PageFile::Mode::ReadOnly) {
        jet::PageFile file(path_, mode);
        file.set_page_size(kPageSize);
        return file;
    }

    fs::path path_;
};

static_assert(std::is_convertible_v<const jet::PageRef&, std::span<const uint8_t>>);
static_assert(!std::is_convertible_v<jet::PageRef&&, std::span<const uint8_t>>,
              "a span of a temporary handle would dangle");

TEST_F(PageFileOnDisk, CacheStaysWithinItsCapacity) {
    auto file = open();
    file.set_cache_capacity(8);
    for (uint32_t n = 0; n < file.page_count(); ++n) {
        const jet::PageRef page = file.fetch(n);
        ASSERT_EQ(page.size(), kPageSize);
        EXPECT_EQ(page[0], n);
        EXPECT_EQ(page[kPageSize - 1], n);
    }
    EXPECT_EQ(file.cached_pages(), 8u);
    EXPECT_EQ(file.pinned_pages(), 0u);
    file.set_cache_capacity(0);  // clamped: one page always stays
    EXPECT_EQ(file.cached_pages(), 1u);
}

// Threads reading one file at once, through a cache small enough to evict all the time
// (read-ahead off) and big enough to read ahead, each with its own read log.
TEST_F(PageFileOnDisk, ThreadsShareOneFile) {
    for (size_t capacity : {size_t{3}, jet::PageFile::kDefaultCachePages}) {
        auto file = open();
        file.set_cache_capacity(capacity);
        std::vector<int> wrong(16, 0);
        std::vector<std::vector<uint32_t>> logs(16);
        jet::run_parallel(16, [&](size_t piece, unsigned) {
            file.set_read_log(&logs[piece]);
            for (uint32_t k = 0; k < 400; ++k) {
                const uint32_t n = static_cast<uint32_t>((k * 7 + piece * 13) % file.page_count());
                const jet::PageRef page = file.fetch(n);
                wrong[piece] += page.size() != kPageSize || page[0] != n || page[kPageSize - 1] != n;
            }
            file.set_read_log(nullptr);
        });
        for (size_t piece = 0; piece < wrong.size(); ++piece) {
            EXPECT_EQ(wrong[piece], 0) << "capacity " << capacity << ", piece " << piece;
            EXPECT_EQ(logs[piece].size(), 400u) << "each thread logs its own reads only";
        }
    }
}

TEST_F(PageFileOnDisk, HandleOutlivesEvictionOfItsPage) {
    auto file = open();
    file.set_cache_capacity(2);
    const jet::PageRef first = file.fetch(3);
    for (uint32_t n = 10; n < 30; ++n) (void)file.fetch(n);
    ASSERT_EQ(first.size(), kPageSize);
    for (uint8_t b : first.bytes()) ASSERT_EQ(b, 3);
    // Fetching it again reads it anew; both views agree.
    const jet::PageRef again = file.fetch(3);
    EXPECT_TRUE(std::equal(first.bytes().begin(), first.bytes().end(), again.bytes().begin()));
}

TEST_F(PageFileOnDisk, RecentlyUsedPageIsKept) {
    auto file = open();
    file.set_cache_capacity(3);
    jet::PageRef a = file.fetch(5);
    const uint8_t* address = a.bytes().data();
    a = {};
    (void)file.fetch(6);
    (void)file.fetch(5);  // touched again: now the most recent
    (void)file.fetch(7);
    (void)file.fetch(8);  // evicts 6, not 5
    const jet::PageRef b = file.fetch(5);
    EXPECT_EQ(b.bytes().data(), address);
}

TEST_F(PageFileOnDisk, MissingPagesComeBackEmpty) {
    auto file = open();
    EXPECT_EQ(file.page_count(), 40u);
    EXPECT_EQ(file.trailing_bytes(), 7u);
    EXPECT_TRUE(file.fetch(40).empty());
    EXPECT_TRUE(file.fetch(0xFFFFFFFF).empty());
    EXPECT_TRUE(jet::PageRef().empty());
    std::vector<uint8_t> out(kPageSize);
    EXPECT_FALSE(file.read_page(40, out));
    std::vector<uint8_t> small(kPageSize - 1);
    EXPECT_FALSE(file.read_page(1, small));
}

TEST_F(PageFileOnDisk, ReadPageCopiesWithoutCaching) {
    auto file = open();
    std::vector<uint8_t> out(kPageSize);
    for (uint32_t n = 0; n < file.page_count(); ++n) {
        ASSERT_TRUE(file.read_page(n, out));
        ASSERT_EQ(out[0], n);
        ASSERT_EQ(out[kPageSize - 1], n);
    }
    EXPECT_EQ(file.cached_pages(), 0u);
}

TEST_F(PageFileOnDisk, PinnedSpansSurviveAnyNumberOfReads) {
    auto file = open();
    file.set_cache_capacity(2);
    const std::span<const uint8_t> pinned = file.page(4);
    for (uint32_t n = 0; n < file.page_count(); ++n) (void)file.fetch(n);
    EXPECT_EQ(file.pinned_pages(), 1u);
    EXPECT_EQ(file.cached_pages(), 2u);
    for (uint8_t b : pinned) ASSERT_EQ(b, 4);
    EXPECT_EQ(file.page(4).data(), pinned.data());
}

TEST_F(PageFileOnDisk, WritesReachCachedPinnedAndHeldCopies) {
    auto file = open(jet::PageFile::Mode::ReadWrite);
    const jet::PageRef held = file.fetch(2);
    const std::span<const uint8_t> pinned = file.page(9);
    const std::vector<uint8_t> new_bytes(kPageSize, 0xAB);
    ASSERT_TRUE(file.write_page(2, new_bytes));
    ASSERT_TRUE(file.write_page(9, new_bytes));
    ASSERT_TRUE(file.write_page(20, new_bytes));  // not cached: only the file changes
    EXPECT_EQ(held[100], 0xAB);
    EXPECT_EQ(pinned[100], 0xAB);
    ASSERT_TRUE(file.flush());
    std::vector<uint8_t> out(kPageSize);
    ASSERT_TRUE(file.read_page(20, out));
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_FALSE(file.write_page(40, new_bytes));
    EXPECT_FALSE(open().write_page(1, new_bytes));  // read-only
}

TEST(PageFileInMemory, HandlesKeepTheBytesAfterTheFileIsGone) {
    std::vector<uint8_t> bytes(3 * kPageSize, 0);
    bytes[kPageSize] = 0x42;
    jet::PageRef ref;
    {
        jet::PageFile file(std::move(bytes), kPageSize);
        ref = file.fetch(1);
        std::vector<uint8_t> out(kPageSize);
        ASSERT_TRUE(file.read_page(1, out));
        EXPECT_EQ(out[0], 0x42);
        EXPECT_TRUE(file.fetch(3).empty());
    }
    ASSERT_EQ(ref.size(), kPageSize);
    EXPECT_EQ(ref[0], 0x42);
}

}  // namespace
