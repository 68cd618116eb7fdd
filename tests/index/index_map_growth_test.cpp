// Owned-page maps of rebuilt indexes: where the pages go when the map names only a window
// of pages, and the map turned into a reference map when no window can hold them. The
// whole-file cases shrink an index's inline map (its row) on a copy of a real file, so
// the index no longer fits it, and let the repair rebuild it: the file then checks clean,
// mdb-export reads every table as before, and every index holds the entries Access wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "corpus.h"
#include "corpus_tables.h"
#include "jet/format/data_page.h"
#include "jet/engine.h"
#include "jet/index/index.h"
#include "jet/index/index_placement.h"
#include "jet/index/index_rebuild.h"
#include "jet/format/usage_map.h"
#include "jet/format/usage_map_edit.h"
#include "rebuild_support.h"

namespace {

// ---- placement -------------------------------------------------------------------------

jet::PagePools pools(std::vector<uint32_t> old, std::vector<uint32_t> free, uint32_t count, uint32_t limit) {
    return {std::move(old), std::move(free), count, limit};
}

TEST(IndexPlacement, OldThenFreeThenNewPages) {
    const auto p = pools({40, 12}, {5, 90}, 100, 200);
    const jet::Placement all = jet::place_pages(p, 6);
    EXPECT_EQ(all.pages, (std::vector<uint32_t>{40, 12, 5, 90, 100, 101}));
    EXPECT_EQ(all.reused, 2u);
    EXPECT_EQ(all.from_free, 2u);
    EXPECT_EQ(all.appended, 2u);
    // The global map names nothing past 101: the pools run out.
    EXPECT_EQ(jet::place_pages(pools({40}, {}, 100, 102), 4).pages.size(), 3u);
}

TEST(IndexPlacement, WindowKeepsMostOldPagesThenFreePages) {
    // Old pages 8..11 and 300; free pages 16, 17 and 520.
    const auto p = pools({8, 9, 10, 300, 11}, {16, 17, 520}, 600, 700);
    const auto start = jet::best_window(p, 6, 16);
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, 8u);
    const uint64_t end = *start + 16;
    const jet::Placement in = jet::place_pages(p, 6, [&](uint32_t q) { return q >= *start && q < end; });
    EXPECT_EQ(in.pages, (std::vector<uint32_t>{8, 9, 10, 11, 16, 17}));
    // Seven pages: no window of sixteen holds them but the one at the end of the file.
    const auto at_end = jet::best_window(p, 7, 16);
    ASSERT_TRUE(at_end);
    EXPECT_EQ(*at_end, 600u);
}

TEST(IndexPlacement, NewPagesOnlyFromTheEndOfTheFileWithoutGaps) {
    // The end of the file (603) is not at a multiple of 8: a window starting at 600 holds
    // 603..615 as new pages, one starting at 608 would need 603..607 first.
    const auto p = pools({}, {}, 603, 1000);
    const auto start = jet::best_window(p, 13, 16);
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, 600u);
    EXPECT_FALSE(jet::best_window(p, 14, 16));
    const jet::Placement none = jet::place_pages(p, 3, [](uint32_t q) { return q >= 608; });
    EXPECT_TRUE(none.pages.empty());
}

// ---- the map row of an index, shrunk -----------------------------------------------------

struct Target {
    uint32_t tdef = 0;
    size_t real = 0;
    uint32_t owned_map = 0;
    std::vector<uint32_t> pages;  // of its tree
};

// The user-table index of most pages.
Target biggest_index(jet::Database& db) {
    Target best;
    for (const auto& t : db.user_tables()) {
        const auto& parsed = db.table_def(t.tdef_page());
        if (!parsed.table) continue;
        for (size_t i = 0; i < parsed.table->real_indexes.size(); ++i) {
            const auto& ri = parsed.table->real_indexes[i];
            auto pages = jet::index_tree_pages(db.file(), db.layout(), ri.root_page);
            if (pages.size() > best.pages.size()) best = {t.tdef_page(), i, ri.owned_map, std::move(pages)};
        }
    }
    return best;
}

// Rewrites the map row as an inline map of `bitmap` bytes starting at `start` with the
// given pages set: the row keeps its end and its start moves up; the page's free-space
// field grows by as much.
void shrink_map_row(std::vector<uint8_t>& file, const jet::Layout& layout, uint32_t row_pointer, size_t bitmap,
                    uint32_t start, const std::vector<uint32_t>& pages) {
    const jet::RowPointer at = jet::RowPointer::from_u32(row_pointer);
    const size_t base = size_t(at.page) * layout.page_size;
    std::vector<uint8_t> page(file.begin() + std::ptrdiff_t(base), file.begin() + std::ptrdiff_t(base + layout.page_size));
    jet::DataPage dp(page, layout);
    const jet::RowSlot slot = dp.slot(at.row);
    ASSERT_TRUE(slot.bounds_ok);
    const size_t length = 5 + bitmap;
    ASSERT_LE(length, size_t(slot.end - slot.start));
    const uint16_t new_start = static_cast<uint16_t>(slot.end - length);
    const uint16_t grown = static_cast<uint16_t>(new_start - slot.start);
    const size_t slot_at = layout.data_header_size + 2 * size_t(at.row);
    const uint16_t raw = static_cast<uint16_t>((slot.raw & ~0x1FFF) | new_start);
    page[slot_at] = static_cast<uint8_t>(raw);
    page[slot_at + 1] = static_cast<uint8_t>(raw >> 8);
    const uint16_t free_space = static_cast<uint16_t>(jet::u16_at(page, 2) + grown);
    page[2] = static_cast<uint8_t>(free_space);
    page[3] = static_cast<uint8_t>(free_space >> 8);
    std::fill(page.begin() + new_start, page.begin() + slot.end, 0);
    page[new_start] = 0x00;
    for (int i = 0; i < 4; ++i) page[new_start + 1 + i] = static_cast<uint8_t>(start >> (8 * i));
    for (uint32_t p : pages)
        if (p >= start && p - start < 8 * bitmap) page[new_start + 5 + (p - start) / 8] |= uint8_t(1u << ((p - start) % 8));
    std::copy(page.begin(), page.end(), file.begin() + std::ptrdiff_t(base));
}

struct Shrink {
    const char* name;
    size_t bitmap;  // bytes left to the inline map
    bool becomes_reference;
    bool global_without_map_pages = false;  // the global map a reference map naming no map page
};

// Makes row 0 of page 1 a reference map whose slots are all empty (as in testRefGlobalV2000).
void empty_reference_global_map(std::vector<uint8_t>& file, const jet::Layout& layout) {
    const std::vector<uint8_t> page(file.begin() + std::ptrdiff_t(layout.page_size),
                                    file.begin() + std::ptrdiff_t(2 * layout.page_size));
    const jet::RowSlot slot = jet::DataPage(page, layout).slot(0);
    ASSERT_TRUE(slot.bounds_ok);
    std::fill(file.begin() + std::ptrdiff_t(layout.page_size + slot.start),
              file.begin() + std::ptrdiff_t(layout.page_size + slot.end), 0);
    file[layout.page_size + slot.start] = 0x01;
}

class IndexMapGrowth : public ::testing::TestWithParam<Shrink> {};

TEST_P(IndexMapGrowth, RepairRebuildsIntoAMapThatNamesEveryPage) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    const Shrink& shrink = GetParam();
    test::Scratch scratch;
    const auto file = scratch / "crecer.accdb";
    std::vector<uint8_t> bytes = test::file_bytes(source);
    test::IndexEntries before;
    Target t;
    {
        jet::Database db(source);
        before = test::all_index_entries(db);
        t = biggest_index(db);
        ASSERT_GE(t.pages.size(), 4u);
        // The window starts past the index's lowest page: some of its pages fall outside.
        const uint32_t low = *std::min_element(t.pages.begin(), t.pages.end());
        const uint32_t start = low - low % 8 + 8;
        ASSERT_TRUE(std::any_of(t.pages.begin(), t.pages.end(),
                                [&](uint32_t p) { return p < start || p >= start + 8 * shrink.bitmap; }));
        shrink_map_row(bytes, db.layout(), t.owned_map, shrink.bitmap, start, t.pages);
        if (shrink.global_without_map_pages) empty_reference_global_map(bytes, db.layout());
    }
    test::put_file(file, bytes);
    const jet::Report found = jet::check_database(file);
    bool index_map = false;
    for (const auto& f : found.findings) index_map |= f.code.rfind("IDX_", 0) == 0;
    EXPECT_TRUE(index_map) << shrink.name << ": the shrunk map is not reported";

    try {
        jet::repair_database(file);
    } catch (const jet::EngineError& e) {
        FAIL() << shrink.name << ": " << e.what();
    }
    // A global map that kept no bit for the file gets a map page for it, every page in the
    // file marked used: the pages the intact map flagged free are then leaks, nothing worse.
    std::set<std::string> were_free;
    for (uint32_t p = 0; p < jet::Database(source).free_pages()->size(); ++p)
        if ((*jet::Database(source).free_pages())[p]) were_free.insert("página " + std::to_string(p));
    const jet::Report after = jet::check_database(file);
    for (const auto& f : after.findings)
        if (!shrink.global_without_map_pages || f.code != "MAP_PAGE_LEAK" || !were_free.count(f.object))
            ADD_FAILURE() << shrink.name << " left: " << f.code << " " << f.description;

    jet::Database db(file);
    EXPECT_TRUE(test::same_entries(before, test::all_index_entries(db))) << shrink.name;
    const auto& parsed = db.table_def(t.tdef);
    ASSERT_TRUE(parsed.table);
    const auto& ri = parsed.table->real_indexes[t.real];
    const jet::UsageMap map = jet::read_usage_map(db.file(), db.layout(), ri.owned_map);
    EXPECT_TRUE(map.readable && map.faults.empty());
    EXPECT_EQ(map.type, shrink.becomes_reference ? 1 : 0) << shrink.name;
    std::vector<uint32_t> tree = jet::index_tree_pages(db.file(), db.layout(), ri.root_page);
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(map.pages, tree) << shrink.name;
    if (shrink.global_without_map_pages) {
        const jet::UsageMap global = jet::read_usage_map(db.file(), db.layout(), 1u << 8);
        EXPECT_TRUE(global.faults.empty() && global.unrecorded.empty()) << "the new pages are recorded";
        for (uint32_t p : tree) EXPECT_FALSE(std::binary_search(global.pages.begin(), global.pages.end(), p)) << p;
        EXPECT_GT(global.pages_past_end, 0u) << "pages past the end are free";
    }
    if (test::have_mdb_export()) {
        bool ok_before = false, ok_after = false;
        const std::string rows_before = test::mdb_export_all(source, ok_before);
        const std::string rows_after = test::mdb_export_all(file, ok_after);
        EXPECT_TRUE(ok_before && ok_after) << shrink.name;
        EXPECT_EQ(rows_before, rows_after) << shrink.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Maps, IndexMapGrowth,
                         ::testing::Values(Shrink{"window_of_16", 2, false}, Shrink{"no_window", 0, true},
                                           Shrink{"no_window_global_reference", 0, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The rebuild itself records what it appends: with a global reference map that has no map
// page for the file, the index's new map page comes with a global map page after it, which
// names the index's pages used and the pages past the end free.
TEST(IndexGrowth, AppendedPagesGetAMapPageInAReferenceGlobalMap) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    test::Scratch scratch;
    const auto damaged = scratch / "global.accdb";
    std::vector<uint8_t> bytes = test::file_bytes(source);
    Target t;
    {
        jet::Database db(source);
        t = biggest_index(db);
        shrink_map_row(bytes, db.layout(), t.owned_map, 0, 0, {});
        empty_reference_global_map(bytes, db.layout());
    }
    test::put_file(damaged, bytes);
    jet::Database db(damaged);
    const uint32_t end = db.file().page_count();
    jet::MemoryPageStore store(bytes, db.layout().page_size);
    const auto& parsed = db.table_def(t.tdef);
    ASSERT_TRUE(parsed.table);
    const auto results = jet::rebuild_table_indexes(db, store, *parsed.table, "t", {t.real});
    ASSERT_EQ(results.size(), 1u);
    ASSERT_TRUE(results[0].rebuilt) << results[0].failure;
    EXPECT_EQ(results[0].map_pages_added, 1u);
    ASSERT_EQ(store.page_count(), end + 2) << "the index's map page, then the global map's";

    jet::PageFile file(store.bytes(), db.layout().page_size);
    const jet::UsageMap global = jet::read_usage_map(file, db.layout(), 1u << 8);
    EXPECT_TRUE(global.faults.empty() && global.unrecorded.empty());
    EXPECT_EQ(jet::u32_at(file.page(1), jet::DataPage(file.page(1), db.layout()).slot(0).start + 1), end + 1);
    const jet::UsageMap owned = jet::read_usage_map(file, db.layout(), t.owned_map);
    std::vector<uint32_t> used = owned.pages;
    used.push_back(end);
    used.push_back(end + 1);
    for (uint32_t p : used) EXPECT_FALSE(std::binary_search(global.pages.begin(), global.pages.end(), p)) << p;
    EXPECT_EQ(global.pages_past_end, jet::pages_per_map_page(db.layout()) - (end + 2));
}

// A file cut short loses map pages its reference maps still name. Such a slot names nothing:
// an edit that saves the map leaves it empty, so that a page appended later at that number
// (another map's, an index's) is never read as this map's.
TEST(UsageMapEditGrowth, SlotNamingAPagePastTheEndIsEmptied) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    std::vector<uint8_t> bytes = test::file_bytes(source);
    jet::Database db(source);
    const jet::Layout& layout = db.layout();
    empty_reference_global_map(bytes, layout);
    const uint32_t end = static_cast<uint32_t>(bytes.size() / layout.page_size);
    const size_t slot_at = layout.page_size + jet::DataPage(db.file().page(1), layout).slot(0).start + 1;
    for (int i = 0; i < 4; ++i) bytes[slot_at + i] = static_cast<uint8_t>((end + 1) >> (8 * i));
    jet::MemoryPageStore store(bytes, layout.page_size);
    std::string why;
    auto global = jet::UsageMapEdit::load(store, layout, 1u << 8, why);
    ASSERT_TRUE(global) << why;
    EXPECT_FALSE(global->covers(0));
    EXPECT_EQ(global->missing_slots({0}), std::vector<size_t>{0});
    global->save(store);
    EXPECT_EQ(jet::u32_at(store.read(1), slot_at - layout.page_size), 0u);
}

// An inline map turned into a reference map in its row: the row keeps its length, the
// new map page reads back as a map page, and only the pages set are listed.
TEST(UsageMapEditGrowth, InlineBecomesReferenceWithANewMapPage) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    jet::Database db(source);
    const Target t = biggest_index(db);
    jet::MemoryPageStore store(test::file_bytes(source), db.layout().page_size);
    std::string why;
    auto map = jet::UsageMapEdit::load(store, db.layout(), t.owned_map, why);
    ASSERT_TRUE(map) << why;
    ASSERT_TRUE(map->is_inline());
    EXPECT_EQ(map->window_pages(), 512u);
    ASSERT_TRUE(map->make_reference());
    const std::vector<uint32_t> wanted = {7, 200, 600};
    const auto slots = map->missing_slots(wanted);
    ASSERT_TRUE(slots);
    EXPECT_EQ(*slots, std::vector<size_t>{0});
    const uint32_t map_page = store.page_count();
    map->add_map_page(0, map_page);
    EXPECT_TRUE(map->missing_slots(wanted)->empty());
    map->clear_all();
    for (uint32_t p : wanted) map->set(p, true);
    map->save(store);
    ASSERT_EQ(store.page_count(), map_page + 1);

    jet::PageFile file(store.bytes(), db.layout().page_size);
    const jet::UsageMap read = jet::read_usage_map(file, db.layout(), t.owned_map);
    EXPECT_EQ(read.type, 1);
    EXPECT_TRUE(read.faults.empty());
    EXPECT_EQ(read.pages, (std::vector<uint32_t>{7, 200}));  // 600 lies past the end of the file
    EXPECT_EQ(read.pages_past_end, 1u);
    const jet::PageRef page = file.fetch(map_page);
    EXPECT_EQ(page[0], jet::page_type::usage_map);
    EXPECT_EQ(page[1], 0x01);
    // Past the last slot a reference map cannot grow.
    EXPECT_FALSE(map->missing_slots({uint32_t(17u * (db.layout().page_size - 4) * 8)}));
}

}  // namespace

// A map edit sees for itself when something else wrote one of its pages (its bytes may then
// be old): saving over such a write leaves it outdated; its own saves do not.
TEST(UsageMapEditGrowth, AnEditKnowsWhenItsPagesWereWrittenByOthers) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    jet::Database db(source);
    const Target t = biggest_index(db);
    jet::MemoryPageStore store(test::file_bytes(source), db.layout().page_size);
    std::string why;
    auto map = jet::UsageMapEdit::load(store, db.layout(), t.owned_map, why);
    ASSERT_TRUE(map) << why;
    const uint32_t host = t.owned_map >> 8;
    EXPECT_FALSE(map->outdated(store));

    map->set(map->window_start(), true);
    map->save_changes(store);
    EXPECT_FALSE(map->outdated(store)) << "its own save";
    store.write(host == 3 ? 4 : 3, store.read(host == 3 ? 4 : 3));
    EXPECT_FALSE(map->outdated(store)) << "a page it does not hold";

    store.write(host, store.read(host));
    EXPECT_TRUE(map->outdated(store)) << "another write to its host page";
    map->set(map->window_start(), false);
    map->save_changes(store);
    EXPECT_TRUE(map->outdated(store)) << "saving over another's write does not make it current";
    EXPECT_FALSE(jet::UsageMapEdit::load(store, db.layout(), t.owned_map, why)->outdated(store));
}

// Clearing a range, a byte at a time where it can, leaves the same bits and writes the same
// pages as clearing each page: in an inline window that starts off a multiple of 8, and in a
// reference map with a missing slot between two map pages.
TEST(UsageMapEditGrowth, ClearingARangeEqualsClearingEachPage) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    jet::Database db(source);
    const jet::Layout& layout = db.layout();
    const Target t = biggest_index(db);
    const uint32_t per_page = (layout.page_size - 4) * 8;
    for (const bool reference : {false, true}) {
        std::vector<uint8_t> bytes = test::file_bytes(source);
        const uint32_t start = 5;
        if (!reference) {
            const jet::RowSlot row = jet::DataPage(db.file().page(t.owned_map >> 8), layout).slot(t.owned_map & 0xFF);
            jet::put_u32(bytes, (t.owned_map >> 8) * layout.page_size + row.start + 1, start);
        }
        jet::MemoryPageStore store(bytes, layout.page_size);
        std::string why;
        auto base = jet::UsageMapEdit::load(store, layout, t.owned_map, why);
        ASSERT_TRUE(base) << why;
        uint32_t last = 0;
        if (reference) {
            ASSERT_TRUE(base->make_reference());
            base->add_map_page(0, store.page_count(), 0);
            base->add_map_page(2, store.page_count() + 1, 0);
            last = 3 * per_page;
        } else {
            ASSERT_EQ(base->window_start(), start);
            for (uint32_t p = start; p < start + base->window_pages(); ++p) base->set(p, true);
            last = start + base->window_pages() + 8;
        }
        for (const auto [first, count] : std::vector<std::pair<uint32_t, uint32_t>>{
                 {0, UINT32_MAX}, {3, 17}, {last - 20, 100}, {per_page - 5, 20}, {per_page + 9, 2 * per_page}, {7, 1}}) {
            jet::UsageMapEdit by_range = *base, by_page = *base;
            by_range.clear_range(first, count);
            for (uint64_t p = first; p < std::min<uint64_t>(uint64_t(first) + count, last); ++p)
                by_page.set(static_cast<uint32_t>(p), false);
            for (uint32_t p = 0; p < last; ++p)
                ASSERT_EQ(by_range.get(p), by_page.get(p)) << (reference ? "reference" : "inline") << " page " << p;
            jet::MemoryPageStore range_store(store.bytes(), layout.page_size), page_store(store.bytes(), layout.page_size);
            by_range.save_changes(range_store);
            by_page.save_changes(page_store);
            EXPECT_EQ(range_store.bytes(), page_store.bytes()) << first << "+" << count;
        }
    }
}
