#include <gtest/gtest.h>

#include "jet/format/data_page.h"
#include "jet/file/page_file.h"
#include "page_builder.h"

namespace {

using jet::kJet3Layout;
using jet::kJet4Layout;

TEST(DataPage, RowBoundsComeFromThePreviousSlot) {
    for (const jet::Layout* layout : {&kJet3Layout, &kJet4Layout}) {
        test::DataPageBuilder b{*layout, 42, {}, {}};
        b.add({1, 2, 3}).add({4, 5}, jet::kRowDeleted | jet::kRowOverflow).add({6, 7, 8, 9}, jet::kRowOverflow);
        auto bytes = b.build();
        jet::DataPage page(bytes, *layout);
        ASSERT_TRUE(page.is_data_page());
        EXPECT_EQ(page.owner(), 42u);
        ASSERT_EQ(page.row_count(), 3);
        auto s = page.slots();
        EXPECT_EQ(s[0].end, layout->page_size);
        EXPECT_EQ(s[0].length(), 3);
        EXPECT_TRUE(s[1].deleted());
        EXPECT_EQ(s[1].length(), 2);
        EXPECT_TRUE(s[2].overflow());
        EXPECT_FALSE(s[2].deleted());
        EXPECT_EQ(page.row(2).size(), 4u);
        EXPECT_EQ(page.row(2)[0], 6);
        EXPECT_TRUE(page.row(7).empty());
        EXPECT_TRUE(jet::validate_data_page(page, 9).empty());
    }
}

TEST(DataPage, FaultsForBadCountsBoundsOrderAndFreeSpace) {
    test::DataPageBuilder b{kJet4Layout, 7, {}, {}};
    b.add({1, 2, 3, 4}).add({5, 6});
    auto good = b.build();

    auto bad_free = good;
    test::put16(bad_free, 2, 100);
    auto f = jet::validate_data_page(jet::DataPage(bad_free, kJet4Layout), 3);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, jet::FaultKind::DataPageFreeSpace);
    EXPECT_EQ(f[0].page, 3u);

    auto huge_count = good;
    test::put16(huge_count, kJet4Layout.data_row_count, 0xFFFF);
    jet::DataPage hp(huge_count, kJet4Layout);
    EXPECT_LE(hp.row_count(), jet::max_rows_on_page(kJet4Layout));
    f = jet::validate_data_page(hp, 3);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[0].kind, jet::FaultKind::DataPageRowCount);

    auto into_header = good;  // row 1 starts inside the slot table
    test::put16(into_header, kJet4Layout.data_header_size + 2, 4);
    f = jet::validate_data_page(jet::DataPage(into_header, kJet4Layout), 3);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[0].kind, jet::FaultKind::DataPageRowBounds);
    EXPECT_EQ(f[0].row, 1);
    EXPECT_TRUE(jet::DataPage(into_header, kJet4Layout).row(1).empty());

    auto swapped = good;  // row 1 starts above row 0
    test::put16(swapped, kJet4Layout.data_header_size + 2, 4095);
    f = jet::validate_data_page(jet::DataPage(swapped, kJet4Layout), 3);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[0].kind, jet::FaultKind::DataPageRowOrder);

    auto not_data = good;
    not_data[0] = jet::page_type::table_def;
    f = jet::validate_data_page(jet::DataPage(not_data, kJet4Layout), 3);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, jet::FaultKind::PageWrongType);
}

TEST(DataPage, ShortBufferIsNotADataPage) {
    std::vector<uint8_t> shortpage(100, 0);
    shortpage[0] = 1;
    jet::DataPage page(shortpage, kJet4Layout);
    EXPECT_FALSE(page.is_data_page());
    EXPECT_TRUE(page.row(0).empty());
}

TEST(PageFile, PartialLastPageIsMissingAndReported) {
    std::vector<uint8_t> bytes(4096 * 2 + 100, 0xAB);
    jet::PageFile file(bytes, 4096);
    EXPECT_EQ(file.page_count(), 2u);
    EXPECT_EQ(file.trailing_bytes(), 100u);
    EXPECT_EQ(file.page(1).size(), 4096u);
    EXPECT_TRUE(file.page(2).empty());
    EXPECT_TRUE(file.page(0xFFFFFFFF).empty());
}

TEST(PageFile, WritesWholePagesOnlyInRange) {
    jet::PageFile file(std::vector<uint8_t>(2048 * 2, 0), 2048);
    std::vector<uint8_t> page(2048, 0x5A);
    EXPECT_TRUE(file.write_page(1, page));
    EXPECT_EQ(file.page(1)[100], 0x5A);
    EXPECT_FALSE(file.write_page(2, page));
    EXPECT_FALSE(file.write_page(0, std::vector<uint8_t>(10, 0)));
}

}  // namespace
