// The rebuild's fast paths against the plain ones they replace: keys sorted by reference
// in one buffer and merged from runs on disk against compare_entries, keys built from stored rows against keys built
// from decoded values, and trees laid out over that buffer against trees of copied entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <span>

#include "corpus.h"
#include "corpus_tables.h"
#include "jet/format/database.h"
#include "jet/index/index_build.h"
#include "jet/index/index_row_key.h"
#include "jet/index/key_sorter.h"
#include "jet/index/sorted_keys.h"

namespace {

using Bytes8 = std::vector<uint8_t>;

jet::IndexEntry entry(Bytes8 key, uint32_t page, uint8_t row) { return {std::move(key), {page, row}, 0}; }

std::vector<jet::IndexEntry> sorted_plainly(std::vector<jet::IndexEntry> es) {
    std::sort(es.begin(), es.end(), [](const auto& a, const auto& b) { return jet::compare_entries(a, b) < 0; });
    return es;
}

std::vector<jet::IndexEntry> sorted_by_reference(const std::vector<jet::IndexEntry>& es) {
    jet::SortedKeys keys;
    for (const auto& e : es) keys.add(e.key, e.row);
    keys.sort();
    return keys.entries();
}

// Through the bounded sorter: `memory` small enough gives many runs on disk to merge.
std::vector<jet::IndexEntry> sorted_in_runs(const std::vector<jet::IndexEntry>& es, size_t memory, size_t* runs = nullptr) {
    jet::KeySorter keys({memory, {}});
    for (const auto& e : es) keys.add(e.key, e.row);
    keys.finish();
    if (runs) *runs = keys.runs();
    std::vector<jet::IndexEntry> out;
    jet::SortedEntry s;
    for (auto r = keys.read(); r.next(s);) out.push_back({jet::KeyBytes(s.key), s.row, 0});
    return out;
}

bool same(const std::vector<jet::IndexEntry>& a, const std::vector<jet::IndexEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.key == y.key && x.row == y.row; });
}

// The leading eight bytes decide most comparisons; these keys tie there and differ only
// after it, in their length, in trailing zero bytes the padding imitates, or in their row.
TEST(SortedKeys, TiesOnTheFirstEightBytesAreSettledLikeCompareEntries) {
    std::vector<jet::IndexEntry> es = {
        entry({1, 2, 3, 4, 5, 6, 7, 8, 9}, 5, 1),
        entry({1, 2, 3, 4, 5, 6, 7, 8}, 5, 1),
        entry({1, 2, 3, 4, 5, 6, 7, 8, 0}, 4, 0),
        entry({1, 2, 3}, 9, 0),
        entry({1, 2, 3, 0}, 1, 0),
        entry({1, 2, 3, 0, 0, 0, 0, 0}, 1, 0),
        entry({1, 2, 3, 0, 0, 0, 0, 0, 0}, 1, 0),
        entry({}, 3, 3),
        entry({}, 3, 2),
        entry({1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF}, 2, 7),
        entry({1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00}, 2, 7),
        entry({1, 2, 3, 4, 5, 6, 7, 8, 9}, 5, 0),
        entry({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, 1),
        entry({0x7F}, 1, 1),
    };
    EXPECT_TRUE(same(sorted_by_reference(es), sorted_plainly(es)));
}

TEST(SortedKeys, PseudoRandomKeysSortLikeCompareEntries) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0xFF; };
    std::vector<jet::IndexEntry> es;
    for (int i = 0; i < 3000; ++i) {
        Bytes8 key(next() % 14, 0);
        for (auto& b : key) b = static_cast<uint8_t>(next() % 3);  // few symbols: many ties
        es.push_back(entry(std::move(key), next() % 4, static_cast<uint8_t>(next() % 3)));
    }
    EXPECT_TRUE(same(sorted_by_reference(es), sorted_plainly(es)));
    std::vector<jet::IndexEntry> already = sorted_plainly(es);  // the is-sorted shortcut
    EXPECT_TRUE(same(sorted_by_reference(already), already));
    // Runs of a few hundred keys merged from the scratch file, and one run only.
    size_t runs = 0;
    EXPECT_TRUE(same(sorted_in_runs(es, 4096, &runs), sorted_plainly(es)));
    EXPECT_GT(runs, 5u);
    EXPECT_TRUE(same(sorted_in_runs(es, size_t{1} << 30, &runs), sorted_plainly(es)));
    EXPECT_EQ(runs, 0u);
}

// Short keys of one length added in row order (an integer column scanned page by page):
// equal heads are equal keys already in row order. Rows out of order, or a key of another
// length, must still be settled.
TEST(SortedKeys, ShortKeysOfOneLengthInRowOrderSortLikeCompareEntries) {
    uint32_t seed = 777;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0xFF; };
    std::vector<jet::IndexEntry> es;
    for (uint32_t i = 0; i < 600; ++i)
        es.push_back(entry({0x7F, 0, 0, static_cast<uint8_t>(next() % 2), static_cast<uint8_t>(next() % 5)},
                           10 + i / 7, static_cast<uint8_t>(i % 7)));
    EXPECT_TRUE(same(sorted_by_reference(es), sorted_plainly(es)));
    std::swap(es[100], es[400]);  // two rows out of order
    EXPECT_TRUE(same(sorted_by_reference(es), sorted_plainly(es)));
    es[200].key = Bytes8{0x7F, 0, 0, 1};  // one shorter key
    EXPECT_TRUE(same(sorted_by_reference(es), sorted_plainly(es)));
}

// All-NULL keys never repeat a unique key; a longer key is another key. The same count
// whether the keys stayed in memory or were merged from runs of two.
TEST(KeySorter, RepeatedKeysCountsEqualKeysOfDifferentRows) {
    for (size_t memory : {size_t{1} << 20, size_t{1}}) {
        jet::KeySorter keys({memory, {}});
        keys.add(Bytes8{1, 2}, {1, 0});
        keys.add(Bytes8{1, 2}, {2, 0});
        keys.add(Bytes8{1, 2, 0}, {3, 0});
        keys.add(Bytes8{}, {4, 0}, true);
        keys.add(Bytes8{}, {5, 0}, true);
        keys.add(Bytes8{9}, {7, 0});
        keys.add(Bytes8{9}, {8, 0}, false);
        keys.add(Bytes8{1, 2}, {6, 0});
        keys.finish();
        EXPECT_EQ(keys.size(), 8u);
        EXPECT_EQ(jet::repeated_keys(keys), 3u) << memory;
    }
}

// Every row of every table of the corpus, every encodable real index: the key from the
// stored row equals the key from the decoded row. Text that holds an unpaired surrogate
// is the one place they may differ (the decoded text has U+FFFD there).
TEST(StoredRowKeys, AgreeWithDecodedRowsOnTheWholeCorpus) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    size_t compared = 0, surrogate_text = 0;
    for (const auto& path : files) {
        std::optional<jet::Database> db;
        if (!test::open_database(db, path)) continue;  // encrypted
        const jet::Layout& layout = db->layout();
        for (uint32_t tdef : test::table_def_heads(db->file(), layout)) {
            const auto& parsed = db->table_def(tdef);
            if (!parsed.table || !parsed.table->complete) continue;
            const jet::TableDef& table = *parsed.table;
            std::vector<jet::IndexKeyPlan> plans;
            for (const auto& ri : table.real_indexes)
                plans.push_back(jet::plan_index_key(table, ri, layout, db->header().version_byte));
            const jet::DecodeContext ctx = db->decode_context();
            jet::StoredRowKeys stored(table, ctx);
            jet::Faults faults;
            db->scan_stored_rows(table, "t", [&](const jet::RowLocation& at, jet::Bytes row) {
                const jet::DecodedRow decoded = jet::decode_row(table, row, ctx);
                ASSERT_EQ(stored.load(row), decoded.usable) << path << " row " << at.page << ":" << at.row;
                if (!decoded.usable) return;
                for (const auto& plan : plans) {
                    const auto plain = jet::row_key(plan, decoded.values);
                    jet::index_key::Key key;
                    bool all_null = true;
                    const bool ok = stored.key(plan, key, all_null);
                    ASSERT_EQ(ok, plain.has_value()) << path << " tdef " << tdef;
                    if (!ok) continue;
                    EXPECT_EQ(all_null, plain->all_null);
                    if (key != plain->key) {
                        ++surrogate_text;  // explained below, or a fault
                        continue;
                    }
                    ++compared;
                }
            }, faults);
        }
    }
    std::cout << "keys compared: " << compared << ", differing: " << surrogate_text << "\n";
    EXPECT_GT(compared, 30000u);
    EXPECT_EQ(surrogate_text, 0u) << "the corpus holds no unpaired surrogate in indexed text";
}

// The text of a stored row keeps an unpaired surrogate as itself; the decoded value
// cannot (UTF-8 has no form for it).
TEST(StoredRowKeys, UnpairedSurrogateKeepsItsCodeUnit) {
    jet::TableDef table;
    jet::Column text;
    text.name = "t";
    text.type = jet::data_type::text;
    text.number = 0;
    text.var_index = 0;
    table.columns.push_back(text);
    table.num_cols = 1;
    table.num_var_cols = 1;
    // Jet 4 row: column count, the text (UCS-2 "a", lone high surrogate), offsets, mask.
    const Bytes8 row = {0x01, 0x00, 'a', 0x00, 0x00, 0xD8, 0x06, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01};
    jet::DecodeContext ctx;
    ctx.layout = &jet::kJet4Layout;
    jet::StoredRowKeys stored(table, ctx);
    ASSERT_TRUE(stored.load(row));
    jet::IndexKeyPlan plan;
    plan.parts.push_back({0, true, jet::TextSortOrder::General, false});
    jet::index_key::Key key, expected;
    bool all_null = true;
    ASSERT_TRUE(stored.key(plan, key, all_null));
    EXPECT_FALSE(all_null);
    jet::index_key::append_text(expected, std::u16string{u'a', char16_t(0xD800)}, jet::TextSortOrder::General, true);
    EXPECT_EQ(key, expected);
    jet::index_key::Key replaced;
    jet::index_key::append_text(replaced, std::u16string{u'a', char16_t(0xFFFD)}, jet::TextSortOrder::General, true);
    EXPECT_NE(key, replaced);
}

// Keys built row after row in one StoredRowKeys (its buffers reused, each plan prepared
// once) equal keys built for each row by a StoredRowKeys of its own: nothing of one row's
// key (a longer text, a value where the next row has NULL) leaks into the next.
TEST(StoredRowKeys, KeysInSequenceEqualKeysOneAtATime) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    size_t compared = 0;
    for (const auto& path : files) {
        std::optional<jet::Database> db;
        if (!test::open_database(db, path)) continue;  // encrypted
        for (uint32_t tdef : test::table_def_heads(db->file(), db->layout())) {
            const auto& parsed = db->table_def(tdef);
            if (!parsed.table || !parsed.table->complete) continue;
            const jet::TableDef& table = *parsed.table;
            std::vector<jet::IndexKeyPlan> plans;
            for (const auto& ri : table.real_indexes)
                plans.push_back(jet::plan_index_key(table, ri, db->layout(), db->header().version_byte));
            const jet::DecodeContext ctx = db->decode_context();
            jet::StoredRowKeys sequence(table, ctx);
            std::vector<size_t> prepared;
            for (const auto& plan : plans) prepared.push_back(sequence.prepare(plan));
            jet::Faults faults;
            db->scan_stored_rows(table, "t", [&](const jet::RowLocation& at, jet::Bytes row) {
                jet::StoredRowKeys alone(table, ctx);
                ASSERT_EQ(sequence.load(row), alone.load(row));
                for (size_t k = 0; k < plans.size(); ++k) {
                    std::span<const uint8_t> view;
                    jet::index_key::Key by_number, by_plan;
                    bool null_view = true, null_number = true, null_plan = true;
                    const bool ok = sequence.key(prepared[k], view, null_view);
                    EXPECT_EQ(sequence.key(prepared[k], by_number, null_number), ok);
                    EXPECT_EQ(alone.key(plans[k], by_plan, null_plan), ok);
                    if (!ok) continue;
                    EXPECT_EQ(jet::index_key::Key(view.begin(), view.end()), by_plan)
                        << path << " tdef " << tdef << " row " << at.page << ":" << at.row;
                    EXPECT_EQ(by_number, by_plan);
                    EXPECT_EQ(null_view, null_plan);
                    EXPECT_EQ(null_number, null_plan);
                    ++compared;
                }
            }, faults);
        }
    }
    std::cout << "keys compared: " << compared << "\n";
    EXPECT_GT(compared, 30000u);
}

// A plan is known by its parts, not only by where it lives: a plan changed in place (or a
// new one at a dead one's address) gets keys of its own columns.
TEST(StoredRowKeys, PlanChangedInPlaceGetsItsOwnKeys) {
    jet::TableDef table;
    for (uint16_t n = 0; n < 2; ++n) {
        jet::Column c;
        c.name = n == 0 ? "a" : "b";
        c.type = jet::data_type::long_integer;
        c.number = n;
        c.fixed_offset = static_cast<uint16_t>(4 * n);
        c.flags = jet::column_flag::fixed;
        table.columns.push_back(c);
    }
    table.num_cols = 2;
    // Jet 4 row: column count, a = 1, b = 2, null mask (both present).
    const Bytes8 row = {0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03};
    jet::DecodeContext ctx;
    ctx.layout = &jet::kJet4Layout;
    jet::StoredRowKeys stored(table, ctx);
    ASSERT_TRUE(stored.load(row));
    jet::IndexKeyPlan plan;
    plan.parts.push_back({0, true, std::nullopt, false});
    jet::index_key::Key first, second, expected;
    bool all_null = true;
    ASSERT_TRUE(stored.key(plan, first, all_null));
    jet::index_key::append_integer(expected, 1, 4, true);
    EXPECT_EQ(first, expected);
    plan.parts[0].column_pos = 1;
    ASSERT_TRUE(stored.key(plan, second, all_null));
    expected.clear();
    jet::index_key::append_integer(expected, 2, 4, true);
    EXPECT_EQ(second, expected);
}

// A scratch file of runs is unlinked as soon as it is made: nothing is left in its folder
// while the sorter works, nor after, whatever stops the process.
TEST(KeySorter, RunsLeaveNothingInTheirFolder) {
    const auto folder = std::filesystem::temp_directory_path() / ("claves_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    {
        jet::KeySorter keys({64, folder / "datos.claves"});
        for (uint32_t i = 0; i < 100; ++i) keys.add(Bytes8{static_cast<uint8_t>(i * 37)}, {i, 0});
        keys.finish();
        EXPECT_GT(keys.runs(), 10u);
        EXPECT_TRUE(std::filesystem::is_empty(folder));
        EXPECT_EQ(jet::repeated_keys(keys), 0u);  // 37 is odd: i * 37 differs mod 256 for every i < 256
    }
    std::filesystem::remove_all(folder);
}

// Pages written from keys merged out of runs on disk equal pages built from the same
// entries copied whole, for a lone leaf and for a tree of several levels with long shared
// prefixes, in both layouts.
TEST(KeyEntryLayout, StreamedPagesEqualPagesOfCopiedEntries) {
    for (const jet::Layout* layout : {&jet::kJet3Layout, &jet::kJet4Layout}) {
        for (size_t count : {size_t{3}, size_t{5000}}) {
            jet::KeySorter keys({size_t{16} << 10, {}});
            std::vector<jet::IndexEntry> copied;
            for (size_t i = 0; i < count; ++i) {
                Bytes8 key = {0x7F, 'c', 'o', 'm', 'm', 'o', 'n', static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
                const jet::RowPointer row{static_cast<uint32_t>(100 + i / 50), static_cast<uint8_t>(i % 50)};
                keys.add(key, row);
                copied.push_back({key, row, 0});
            }
            keys.finish();
            jet::KeySorterStream stream(keys);
            const jet::IndexPlan plan = jet::plan_index(stream, *layout, 42);
            const jet::BuiltIndex by_copy = jet::build_index(copied, *layout, 42);
            ASSERT_EQ(plan.pages.size(), by_copy.pages.size());
            ASSERT_EQ(plan.leaf_count, by_copy.leaf_count);
            std::vector<uint32_t> numbers(by_copy.pages.size());
            for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<uint32_t>(700 + 3 * i);
            std::vector<std::vector<uint8_t>> streamed;
            jet::write_index_pages(plan, stream, numbers, *layout, [&](size_t i, std::span<const uint8_t> bytes) {
                EXPECT_EQ(i, streamed.size());
                streamed.emplace_back(bytes.begin(), bytes.end());
            });
            EXPECT_EQ(streamed, jet::render_index(by_copy, numbers, *layout)) << count << " entries";
            if (count > 3) {
                EXPECT_GT(keys.runs(), 3u);
                EXPECT_GT(by_copy.pages.size(), 3u);
            }
        }
    }
}

}  // namespace
