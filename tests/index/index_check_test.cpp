// An index's entries against its rows: which disagreements are Access's own key bytes (a
// note) and which show an entry that no longer fits its row (a rebuild).
#include <gtest/gtest.h>

#include <functional>

#include "jet/index/index_check.h"
#include "jet/index/index_key.h"

namespace {

using jet::IndexDataIssueKind;
using jet::index_key::Key;

// A row's key on (text, long) and where its text lies.
struct RowKey {
    Key key;
    jet::index_key::TextSpan text;
};

RowKey row_key(std::u16string_view text, int32_t number) {
    RowKey k;
    jet::index_key::append_text(k.key, text, jet::TextSortOrder::GeneralLegacy, true);
    k.text = {1, static_cast<uint32_t>(k.key.size())};
    jet::index_key::append_integer(k.key, number, 4, true);
    return k;
}

// Five rows "a", "b", "bb", "c", "d" (number 0), their entries in that order.
struct Index {
    std::vector<RowKey> rows;                // what the rows hold now
    std::vector<Key> keys;                   // the entries' keys, in tree order
    std::vector<jet::RowPointer> pointers;   // the entries' rows
};

struct Case {
    const char* name;
    std::function<void(Index&)> change;
    IndexDataIssueKind expected;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> list = {
        // Access's text key for "bb" carries a byte our encoder does not write; the entry
        // still sorts between "b" and "c".
        {"text_bytes_differ_in_place",
         [](Index& x) { x.keys[2].insert(x.keys[2].begin() + 4, 0x02); },
         IndexDataIssueKind::KeyMismatch},
        // The row of "bb" now holds "zz": its entry stands where "zz" does not belong.
        {"row_changed_after_its_entry",
         [](Index& x) { x.rows[2] = row_key(u"zz", 0); },
         IndexDataIssueKind::KeyWrong},
        // Same text, another number: outside the text, our encoding is exact.
        {"number_differs",
         [](Index& x) { x.keys[2] = row_key(u"bb", 7).key; },
         IndexDataIssueKind::KeyWrong},
        // Two entries trade rows: every row still has one entry, each in the other's place.
        {"entries_trade_rows",
         [](Index& x) { std::swap(x.pointers[1], x.pointers[3]); },
         IndexDataIssueKind::KeyWrong},
    };
    return list;
}

class IndexKeyDisagreement : public ::testing::TestWithParam<size_t> {};

TEST_P(IndexKeyDisagreement, IsJudgedByWhereTheEntryStands) {
    const Case& c = cases()[GetParam()];
    Index x;
    for (std::u16string_view text : {u"a", u"b", u"bb", u"c", u"d"}) {
        x.rows.push_back(row_key(text, 0));
        x.keys.push_back(x.rows.back().key);
        x.pointers.push_back({10, static_cast<uint8_t>(x.pointers.size())});
    }
    c.change(x);
    jet::KeyedRows keyed;
    for (size_t i = 0; i < x.rows.size(); ++i) keyed.add({10, static_cast<uint8_t>(i)}, x.rows[i].key, false, x.rows[i].text);
    jet::TreeEntries entries;
    for (size_t i = 0; i < x.keys.size(); ++i) entries.add(x.keys[i], x.pointers[i]);
    const jet::IndexDataResult result = jet::compare_index_with_rows(entries, keyed, 0);
    ASSERT_FALSE(result.issues.empty());
    for (const auto& issue : result.issues) EXPECT_EQ(issue.kind, c.expected) << issue.detail;
    EXPECT_EQ(result.sound(), c.expected == IndexDataIssueKind::KeyMismatch);
}

INSTANTIATE_TEST_SUITE_P(Cases, IndexKeyDisagreement, ::testing::Range<size_t>(0, 4),
                         [](const auto& info) { return std::string(cases()[info.param].name); });

}  // namespace
