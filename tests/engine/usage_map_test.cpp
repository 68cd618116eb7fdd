// Reference usage maps (type 1) read from synthetic Jet 4 files: slot j's map page names the
// pages from j x 32,736; a slot without a map page keeps no bit for the pages of the file it
// covers; a slot wholly past the end of the file is not read, whatever it holds.
#include <gtest/gtest.h>

#include "jet/file/page_file.h"
#include "jet/format/usage_map.h"
#include "page_builder.h"

namespace {

const jet::Layout& jet4() { return jet::kJet4Layout; }

// A 3-page file: page 2 is a map page whose bitmap sets pages 1 and 100.
jet::PageFile three_pages() {
    test::FileImage image(jet4(), 3);
    std::vector<uint8_t> map_page(jet4().page_size, 0);
    map_page[0] = jet::page_type::usage_map;
    map_page[1] = 0x01;
    map_page[4 + 1 / 8] |= 1u << (1 % 8);
    map_page[4 + 100 / 8] |= 1u << (100 % 8);
    image.set_page(2, map_page);
    image.set_page(1, test::DataPageBuilder{jet4(), 1, {}, {}}.build());
    return jet::PageFile(image.bytes, jet4().page_size);
}

std::vector<uint8_t> reference_row(std::initializer_list<uint32_t> slots) {
    std::vector<uint8_t> row{0x01};
    for (uint32_t s : slots) test::append32(row, s);
    return row;
}

TEST(ReferenceUsageMap, SlotsNameMapPagesFromPageZero) {
    const jet::PageFile file = three_pages();
    EXPECT_EQ(jet::pages_per_map_page(jet4()), 32736u);

    // Slot 0 holds the map page; slot 1 is empty and slot 2 holds stale bytes, both past the end.
    const jet::UsageMap read = jet::parse_usage_map(reference_row({2, 0, 0xFFFFFF80u}), file, jet4());
    EXPECT_TRUE(read.readable);
    EXPECT_TRUE(read.faults.empty());
    EXPECT_EQ(read.pages, std::vector<uint32_t>{1});
    EXPECT_EQ(read.pages_past_end, 1u);
    EXPECT_TRUE(read.unrecorded.empty());
    EXPECT_TRUE(read.records(0));

    // No map page for the slot the file lies in: its pages have no bit, and that is no fault.
    const jet::UsageMap empty = jet::parse_usage_map(reference_row({0, 0xFFFFFF80u}), file, jet4());
    EXPECT_TRUE(empty.readable);
    EXPECT_TRUE(empty.faults.empty());
    EXPECT_TRUE(empty.pages.empty());
    ASSERT_EQ(empty.unrecorded.size(), 1u);
    EXPECT_EQ(empty.unrecorded[0].first, 0u);
    EXPECT_EQ(empty.unrecorded[0].end, 3u);
    EXPECT_FALSE(empty.records(2));

    // A slot the file reaches that names a page of another type is a fault, and keeps no bit.
    const jet::UsageMap bad = jet::parse_usage_map(reference_row({1}), file, jet4());
    ASSERT_EQ(bad.faults.size(), 1u);
    EXPECT_EQ(bad.faults[0].kind, jet::FaultKind::UsageMapPageBad);
    EXPECT_FALSE(bad.records(0));
}

}  // namespace
