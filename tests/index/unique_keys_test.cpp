// Which rows a repeated unique key costs: the planner on hand-made keys (first row kept,
// a referenced row preferred, NULL keys never conflicting, one index's removals seen by
// the next), and the relationships it reads from a real file.
#include <gtest/gtest.h>

#include "corpus.h"
#include "jet/format/relationships.h"
#include "jet/index/unique_keys.h"

namespace {

using jet::UniqueKeyedRow;
using Key = jet::index_key::Key;

UniqueKeyedRow row(std::vector<std::optional<Key>> keys, bool referenced = false) {
    return UniqueKeyedRow{referenced, std::move(keys)};
}

// (row taken out, row kept) per repeat, in the planner's order.
std::vector<std::pair<size_t, size_t>> taken(const std::vector<UniqueKeyedRow>& rows, size_t indexes) {
    std::vector<std::pair<size_t, size_t>> out;
    for (const jet::RepeatedKey& r : jet::plan_repeated_keys(rows, indexes)) out.emplace_back(r.row, r.kept);
    return out;
}

TEST(UniqueKeyPlan, DistinctKeysCostNothing) {
    EXPECT_TRUE(taken({row({Key{1}}), row({Key{2}}), row({Key{1, 0}})}, 1).empty());
    EXPECT_TRUE(taken({}, 1).empty());
}

TEST(UniqueKeyPlan, FirstRowKeepsTheKeyWhenNoneIsReferenced) {
    const auto t = taken({row({Key{7}}), row({Key{3}}), row({Key{7}}), row({Key{7}})}, 1);
    EXPECT_EQ(t, (std::vector<std::pair<size_t, size_t>>{{2, 0}, {3, 0}}));
}

TEST(UniqueKeyPlan, ReferencedRowKeepsTheKeyEvenWhenLater) {
    const auto t = taken({row({Key{7}}), row({Key{7}}, true), row({Key{7}})}, 1);
    EXPECT_EQ(t, (std::vector<std::pair<size_t, size_t>>{{0, 1}, {2, 1}}));
}

TEST(UniqueKeyPlan, FirstOfSeveralReferencedRowsKeepsTheKey) {
    const auto t = taken({row({Key{7}}), row({Key{7}}, true), row({Key{7}}, true)}, 1);
    EXPECT_EQ(t, (std::vector<std::pair<size_t, size_t>>{{0, 1}, {2, 1}}));
}

TEST(UniqueKeyPlan, NullKeysNeverConflict) {
    EXPECT_TRUE(taken({row({std::nullopt}), row({std::nullopt}), row({Key{0}})}, 1).empty());
}

TEST(UniqueKeyPlan, ARowTakenOutForOneIndexNoLongerCountsForTheNext) {
    // Row 1 repeats row 0 in the first index and row 2 in the second: once it is out, the
    // second index has nothing left to repeat.
    const auto t = taken({row({Key{1}, Key{10}}), row({Key{1}, Key{20}}), row({Key{2}, Key{20}})}, 2);
    EXPECT_EQ(t, (std::vector<std::pair<size_t, size_t>>{{1, 0}}));
}

TEST(UniqueKeyPlan, SecondIndexRepeatsAreResolvedToo) {
    const auto t = taken({row({Key{1}, Key{10}}), row({Key{2}, Key{10}}), row({Key{3}, Key{11}})}, 2);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0], (std::pair<size_t, size_t>{1, 0}));
    EXPECT_EQ(jet::plan_repeated_keys({row({Key{1}, Key{10}}), row({Key{2}, Key{10}})}, 2)[0].index, 1u);
}

TEST(UniqueKeyPlan, CompoundKeysCompareWhole) {
    // A compound key is one byte string: rows agreeing on the first column only differ.
    EXPECT_TRUE(taken({row({Key{0x7F, 1, 0x7F, 2}}), row({Key{0x7F, 1, 0x7F, 3}})}, 1).empty());
    // One NULL column among others is an ordinary key: two such rows do repeat.
    EXPECT_EQ(taken({row({Key{0x7F, 1, 0x00}}), row({Key{0x7F, 1, 0x00}})}, 1).size(), 1u);
}

TEST(ReferenceKeys, NullPointsAtNothingAndTextIgnoresCase) {
    const std::vector<jet::Value> a{jet::Value{int32_t{5}}, jet::Value{std::string("AbC")}, jet::Value{jet::Null{}}};
    const std::vector<jet::Value> b{jet::Value{int32_t{5}}, jet::Value{std::string("abc")}};
    EXPECT_EQ(jet::reference_key(a, {0, 1}), jet::reference_key(b, {0, 1}));
    EXPECT_TRUE(jet::reference_key(a, {0, 2}).empty());
    EXPECT_TRUE(jet::reference_key(a, {7}).empty());  // past the row: nothing, no read
    EXPECT_NE(jet::reference_key(a, {0}), jet::reference_key(b, {1}));
}

TEST(Relationships, ReadFromTheCatalogOfARealFile) {
    const auto path = test::corpus_file("ucanaccess/corrupted.accdb");
    REQUIRE_CORPUS_FILE(path);
    jet::Database db(path);
    const auto relationships = jet::read_relationships(db);
    const jet::Relationship* uk = nullptr;
    for (const auto& r : relationships)
        if (r.name == "UKUKBaby") uk = &r;
    ASSERT_NE(uk, nullptr) << relationships.size() << " relationships read";
    EXPECT_EQ(uk->table, "UKBaby");
    EXPECT_EQ(uk->referenced_table, "UK");
    EXPECT_EQ(uk->columns, std::vector<std::string>{"n"});
    EXPECT_EQ(uk->referenced_columns, std::vector<std::string>{"uk"});

    // UKBaby's n holds 2 and 1: UK rows with uk = 1 are referenced, none with uk = 2.
    const jet::TableDef* def = nullptr;
    for (const auto& e : db.user_tables())
        if (e.name == "UK") def = &*db.table_def(e.tdef_page()).table;
    ASSERT_NE(def, nullptr);
    const auto incoming = jet::incoming_references(db, relationships, *def, "uk");  // names ignore case
    ASSERT_EQ(incoming.size(), 1u);
    EXPECT_EQ(incoming[0].keys, (std::set<jet::ReferenceKey>{{"1"}, {"2"}}));
}

// Keys sorted in memory, and in runs of a few keys merged from disk: the same rows.
TEST(Relationships, DuplicateRowsOfARealFileNameTheRowThatStays) {
    const auto path = test::corpus_file("ucanaccess/corrupted.accdb");
    REQUIRE_CORPUS_FILE(path);
    jet::Database db(path);
    for (const size_t memory : {size_t{16} << 20, size_t{64}}) {
        for (const auto& e : db.user_tables()) {
            const auto& def = db.table_def(e.tdef_page());
            ASSERT_TRUE(def.table);
            const auto rows = jet::duplicate_key_rows(db, *def.table, e.name, jet::read_relationships(db), {memory, {}});
            if (e.name != "UK") {
                EXPECT_TRUE(rows.empty()) << e.name;
                continue;
            }
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].index_name, ".rC");
            EXPECT_EQ(rows[0].row.row, 1);
            EXPECT_EQ(rows[0].kept.row, 0);
            EXPECT_EQ(rows[0].row.page, rows[0].kept.page);
            EXPECT_TRUE(rows[0].kept_referenced && rows[0].row_referenced);  // both hold the referenced value
            EXPECT_NE(jet::duplicate_key_text(rows[0]).find("por ser la primera"), std::string::npos);
        }
    }
}

}  // namespace
