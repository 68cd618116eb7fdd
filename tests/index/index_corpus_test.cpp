// The proof: for every index of every table in the corpus, re-encode each row's key and
// compare it with the entries Access wrote, byte for byte; check every tree's shape.
#include <gtest/gtest.h>

#include <iomanip>
#include <map>
#include <sstream>

#include "corpus.h"
#include "corpus_tables.h"
#include "jet/index/index.h"
#include "jet/index/index_check.h"
#include "jet/index/index_row_key.h"
#include "jet/format/database.h"

namespace {

std::string order_label(const jet::IndexKeyPlan& plan) {
    if (plan.text_orders.empty()) return "no text";
    std::string out;
    for (auto o : plan.text_orders) {
        if (!out.empty()) out += "+";
        out += o == jet::TextSortOrder::General97       ? "General97"
               : o == jet::TextSortOrder::GeneralLegacy ? "GeneralLegacy"
                                                        : "General";
    }
    return out;
}

std::string hex(std::span<const uint8_t> b) {
    std::ostringstream s;
    for (uint8_t x : b) s << std::hex << std::setw(2) << std::setfill('0') << int(x) << ' ';
    return s.str();
}

// ucanaccess ships this file as a damaged database: its table with TDEF 132 holds two rows
// with the same key in a unique index. Everything else in the corpus is intact.
bool known_damage(const std::filesystem::path& path, uint32_t tdef, const jet::IndexDataIssue& issue) {
    return path.filename() == "corrupted.accdb" && tdef == 132 &&
           issue.kind == jet::IndexDataIssueKind::UniqueViolation;
}

struct Tally {
    size_t indexes = 0, compared = 0, identical = 0;
};

TEST(IndexCorpus, EveryKeyMatchesWhatAccessWrote) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    std::map<std::pair<std::string, std::string>, Tally> tally;
    std::map<std::string, size_t> not_encodable;
    size_t trees = 0;
    size_t known_damage_found = 0;
    for (const auto& path : files) {
        std::optional<jet::Database> db;
        if (!test::open_database(db, path)) continue;  // encrypted
        const jet::Layout& layout = db->layout();
        const std::string fmt = test::format_name(db->header().version_byte);
        for (uint32_t tdef : test::table_def_heads(db->file(), layout)) {
            const auto& parsed = db->table_def(tdef);
            if (!parsed.table || !parsed.table->complete) continue;
            const jet::TableDef& table = *parsed.table;
            std::vector<std::pair<jet::RowPointer, std::vector<jet::Value>>> rows;
            bool rows_read = false;
            for (size_t ri = 0; ri < table.real_indexes.size(); ++ri) {
                const jet::RealIndex& index = table.real_indexes[ri];
                std::string where = path.string() + " tdef " + std::to_string(tdef) + " index " +
                                    std::to_string(ri);
                jet::IndexTree tree = jet::read_index_tree(db->file(), layout, index.root_page, tdef);
                ++trees;
                for (const auto& issue : tree.issues) ADD_FAILURE() << where << ": " << issue.detail;
                jet::IndexKeyPlan plan =
                    jet::plan_index_key(table, index, layout, db->header().version_byte);
                if (!plan.encodable) {
                    ++not_encodable[fmt + ": " + plan.reason];
                    continue;
                }
                if (!rows_read) {
                    jet::Faults faults;
                    db->scan_rows(table, "t" + std::to_string(tdef),
                                  [&](const jet::RowLocation& at, std::vector<jet::Value>&& values) {
                                      rows.push_back({{at.page, static_cast<uint8_t>(at.row)}, std::move(values)});
                                  },
                                  faults);
                    rows_read = true;
                }
                jet::KeyedRows keyed;
                std::map<uint32_t, std::vector<uint8_t>> expected;
                for (const auto& [at, values] : rows) {
                    auto key = jet::row_key(plan, values);
                    ASSERT_TRUE(key) << where << " row " << at.page << ":" << int(at.row);
                    keyed.add(at, key->key, key->all_null);
                    expected[(at.page << 8) | at.row] = key->key;
                }
                auto result = jet::compare_index_with_rows(tree.entries, keyed, index.flags);
                Tally& t = tally[{fmt, order_label(plan)}];
                ++t.indexes;
                t.compared += result.entries_checked;
                t.identical += result.keys_identical;
                size_t shown = 0;
                for (const auto& issue : result.issues) {
                    if (known_damage(path, tdef, issue)) {
                        ++known_damage_found;
                        continue;
                    }
                    if (shown++ >= 5) break;
                    std::string detail = where + ": " + issue.detail;
                    for (size_t n = 0; n < tree.entries.size(); ++n)
                        if (tree.entries.row(n) == issue.row) detail += "\n  access: " + hex(tree.entries.key(n));
                    auto it = expected.find((issue.row.page << 8) | issue.row.row);
                    if (it != expected.end()) detail += "\n  ours:   " + hex(it->second);
                    ADD_FAILURE() << detail;
                }
            }
        }
    }
    EXPECT_EQ(known_damage_found, 1u) << "the duplicate key of corrupted.accdb was not found";
    std::cout << "index trees walked: " << trees << "\n";
    std::cout << "keys compared (format, sort order: indexes, entries compared, identical):\n";
    for (const auto& [k, t] : tally)
        std::cout << "  " << k.first << ", " << k.second << ": " << t.indexes << ", " << t.compared << ", "
                  << t.identical << "\n";
    for (const auto& [reason, n] : not_encodable) std::cout << "  not encodable: " << reason << " x" << n << "\n";
}

}  // namespace
