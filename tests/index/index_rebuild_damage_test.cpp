// Damaged index pages rebuilt by the repair's fix on a working copy: the rebuilt index
// holds exactly the entries Access wrote before the damage, every index verifies clean,
// and mdb-export reads the same rows as from the intact file.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "corpus.h"
#include "corpus_tables.h"
#include "jet/engine.h"
#include "jet/repair/fix_indexes.h"
#include "jet/format/header.h"
#include "jet/index/index.h"
#include "jet/index/index_verify.h"
#include "jet/file/safe_commit.h"
#include "rebuild_support.h"

namespace {

size_t unsound_indexes(jet::Database& db) {
    size_t n = 0;
    for (uint32_t tdef : test::table_def_heads(db.file(), db.layout())) {
        const auto& parsed = db.table_def(tdef);
        if (!parsed.table || !parsed.table->complete) continue;
        jet::Faults faults;
        for (const auto& v : jet::verify_table_indexes(db, *parsed.table, "t", true, faults)) n += !v.sound();
    }
    return n;
}

// The user-table index with the most leaves: where damage between leaves can be made.
struct Target {
    uint32_t tdef = 0;
    jet::IndexTree tree;
    uint32_t root = 0;
    uint32_t owned_map = 0;
    size_t sibling_root_at = 0;  // file offsets of another index's root and map pointers of
    size_t sibling_map_at = 0;   // the table (0: none)
};

Target biggest_index(jet::Database& db) {
    Target best;
    for (const auto& t : db.user_tables()) {
        const auto& parsed = db.table_def(t.tdef_page());
        if (!parsed.table) continue;
        const auto& indexes = parsed.table->real_indexes;
        for (size_t i = 0; i < indexes.size(); ++i) {
            auto tree = jet::read_index_tree(db.file(), db.layout(), indexes[i].root_page, t.tdef_page());
            if (!tree.valid() || tree.leaves.size() <= best.tree.leaves.size()) continue;
            best = {t.tdef_page(), std::move(tree), indexes[i].root_page, indexes[i].owned_map, 0, 0};
            const size_t sibling = i == 0 ? 1 : 0;
            if (sibling >= indexes.size()) continue;
            const size_t base = size_t(t.tdef_page()) * db.layout().page_size;
            const size_t root_at = indexes[sibling].descriptor_offset + db.layout().ri_root_page;
            const size_t map_at = indexes[sibling].descriptor_offset + db.layout().ri_owned_map;
            if (root_at + 4 <= db.layout().page_size) best.sibling_root_at = base + root_at;
            if (map_at + 4 <= db.layout().page_size) best.sibling_map_at = base + map_at;
        }
    }
    return best;
}

std::vector<uint8_t> page_of(const std::vector<uint8_t>& file, uint32_t n, uint32_t size) {
    return {file.begin() + std::ptrdiff_t(n) * size, file.begin() + std::ptrdiff_t(n + 1) * size};
}

void put_page(std::vector<uint8_t>& file, uint32_t n, const std::vector<uint8_t>& page) {
    std::copy(page.begin(), page.end(), file.begin() + std::ptrdiff_t(n) * std::ptrdiff_t(page.size()));
}

// Rewrites a leaf with changed entries, keeping its header fields.
std::vector<uint8_t> rewritten_leaf(const std::vector<uint8_t>& page, const jet::Layout& layout,
                                    const std::function<void(std::vector<jet::IndexEntry>&)>& change) {
    auto parsed = jet::parse_index_page(page, layout);
    jet::IndexPageSpec spec;
    spec.leaf = true;
    spec.owner = parsed.owner;
    spec.prev = parsed.prev;
    spec.next = parsed.next;
    spec.entries = parsed.entries;
    change(spec.entries);
    spec.prefix_length = 0;
    return jet::write_index_page(spec, layout);
}

struct Damage {
    const char* name;
    std::function<void(std::vector<uint8_t>& file, const Target& t, const jet::Layout& layout)> apply;
};

const std::vector<Damage>& damages() {
    static const std::vector<Damage> list = {
        {"zeroed_leaf",
         [](auto& file, const Target& t, const jet::Layout& l) {
             put_page(file, t.tree.leaves[1], std::vector<uint8_t>(l.page_size, 0));
         }},
        {"garbage_leaf",
         [](auto& file, const Target& t, const jet::Layout& l) {
             std::vector<uint8_t> page(l.page_size);
             uint32_t x = 0x2545F491;
             for (auto& b : page) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
             put_page(file, t.tree.leaves[1], page);
         }},
        {"broken_leaf_chain",
         [](auto& file, const Target& t, const jet::Layout& l) {
             auto page = page_of(file, t.tree.leaves[0], l.page_size);
             for (size_t i = 0; i < 4; ++i) page[l.ix_next_page + i] = 0;
             put_page(file, t.tree.leaves[0], page);
         }},
        {"missing_entry",
         [](auto& file, const Target& t, const jet::Layout& l) {
             const uint32_t n = t.tree.leaves.back();
             put_page(file, n, rewritten_leaf(page_of(file, n, l.page_size), l, [](auto& e) { e.erase(e.begin()); }));
         }},
        {"extra_entry",
         [](auto& file, const Target& t, const jet::Layout& l) {
             const uint32_t n = t.tree.leaves.back();
             put_page(file, n, rewritten_leaf(page_of(file, n, l.page_size), l, [](auto& e) {
                          jet::IndexEntry extra = e.back();
                          extra.row.row = 0xFE;  // no page holds that many rows
                          e.push_back(extra);
                          std::sort(e.begin(), e.end(), [](auto& a, auto& b) { return jet::compare_entries(a, b) < 0; });
                      }));
         }},
        {"two_indexes_share_a_root",  // the other index's tree is lost; rebuilding one must not undo the other
         [](auto& file, const Target& t, const jet::Layout&) {
             ASSERT_NE(t.sibling_root_at, 0u) << "the table has one index only";
             for (size_t i = 0; i < 4; ++i) file[t.sibling_root_at + i] = uint8_t(t.root >> (8 * i));
         }},
        {"entries_out_of_order",
         [](auto& file, const Target& t, const jet::Layout& l) {
             const uint32_t n = t.tree.leaves.back();
             put_page(file, n, rewritten_leaf(page_of(file, n, l.page_size), l,
                                              [](auto& e) { std::swap(e[0], e[1]); }));
         }},
    };
    return list;
}

// mdbtools reads every table of both files, and the same rows.
void expect_same_rows(const std::filesystem::path& intact, const std::filesystem::path& repaired, const std::string& label) {
    if (!test::have_mdb_export()) return;
    bool ok_before = false, ok_after = false;
    const std::string rows_before = test::mdb_export_all(intact, ok_before);
    const std::string rows_after = test::mdb_export_all(repaired, ok_after);
    EXPECT_TRUE(ok_before && ok_after) << label;
    EXPECT_EQ(rows_before, rows_after) << label;
}

// A copy of `source` in `scratch` damaged by `apply` (the bytes, and the intact file open to
// find what to damage), and every index's entries as Access wrote them.
struct DamagedCopy {
    std::filesystem::path file;
    test::IndexEntries before;
};

DamagedCopy damaged_copy(const std::filesystem::path& source, const test::Scratch& scratch,
                         const std::function<void(std::vector<uint8_t>&, jet::Database&)>& apply) {
    DamagedCopy out{scratch / "base de datos.accdb", {}};
    std::vector<uint8_t> bytes = test::file_bytes(source);
    {
        jet::Database db(source);
        out.before = test::all_index_entries(db);
        apply(bytes, db);
    }
    test::put_file(out.file, bytes);
    std::filesystem::permissions(out.file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return out;
}

class IndexRebuildDamage : public ::testing::TestWithParam<size_t> {};

TEST_P(IndexRebuildDamage, FixRebuildsWhatAccessWrote) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    const Damage& damage = damages()[GetParam()];
    test::Scratch scratch;
    const auto intact = scratch / "intact.accdb";
    const auto damaged = scratch / "damaged.accdb";
    std::filesystem::copy_file(source, intact);
    test::IndexEntries before;
    std::vector<uint8_t> bytes = test::file_bytes(intact);
    {
        jet::Database db(intact);
        before = test::all_index_entries(db);
        Target t = biggest_index(db);
        ASSERT_GE(t.tree.leaves.size(), 2u) << "no index of several leaves";
        damage.apply(bytes, t, db.layout());
    }
    test::put_file(damaged, bytes);
    {
        jet::Database db(damaged);
        ASSERT_GT(unsound_indexes(db), 0u) << damage.name << " not detected";
    }

    const auto repaired = scratch / "repaired.accdb";
    {
        jet::DatabaseLock lock(damaged);
        jet::WorkingCopy copy(lock);
        jet::RecoveryFile recovery(damaged);
        auto parsed = jet::parse_header(test::file_bytes(damaged));
        ASSERT_TRUE(parsed.header);
        jet::FixContext context(copy, *parsed.header, recovery);
        jet::fix_rebuild_indexes(context, {});
        std::filesystem::copy_file(copy.path(), repaired);
    }
    jet::Database db(repaired);
    EXPECT_TRUE(test::same_entries(before, test::all_index_entries(db))) << damage.name;
    EXPECT_EQ(unsound_indexes(db), 0u) << damage.name;
    expect_same_rows(intact, repaired, damage.name);
}

// The whole repair: the check names the damage with IDX_* codes, the repair rebuilds,
// and the committed file checks clean.
TEST_P(IndexRebuildDamage, RepairDatabaseChecksCleanAfterwards) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    const Damage& damage = damages()[GetParam()];
    // A garbage page also reads as a page of unknown type, whose fix belongs to the
    // page-type repair; until it exists the repair refuses the file as a whole.
    if (std::string(damage.name) == "garbage_leaf" && !jet::fix_for("PAGE_TYPE_UNKNOWN"))
        GTEST_SKIP() << "PAGE_TYPE_UNKNOWN has no fix yet";
    test::Scratch scratch;
    const auto [file, before] = damaged_copy(source, scratch, [&](std::vector<uint8_t>& bytes, jet::Database& db) {
        damage.apply(bytes, biggest_index(db), db.layout());
    });

    const jet::Report found = jet::check_database(file);
    bool index_codes = false;
    for (const auto& f : found.findings) index_codes |= f.code.rfind("IDX_", 0) == 0;
    EXPECT_TRUE(index_codes) << damage.name;

    jet::Report repaired;
    try {
        repaired = jet::repair_database(file);
    } catch (const jet::EngineError& e) {
        FAIL() << damage.name << ": " << e.what();
    }
    const jet::Report after = jet::check_database(file);
    for (const auto& f : after.findings) ADD_FAILURE() << damage.name << " left: " << f.code << " " << f.description;
    jet::Database db(file);
    EXPECT_TRUE(test::same_entries(before, test::all_index_entries(db))) << damage.name;
}

// Two indexes naming one map row (and one tree): whatever one's rebuild writes there the
// other's undoes, so the later one gets a map row of its own first (TDEF_INDEX_MAP), then
// both are rebuilt as Access wrote them.
TEST(IndexRebuildDamage, TwoIndexesSharingAMapRowGetOneEach) {
    const auto source = test::corpus_file("efcore-jet/JetProviderExceptionTests/Northwind.accdb");
    REQUIRE_CORPUS_FILE(source);
    test::Scratch scratch;
    const auto [file, before] = damaged_copy(source, scratch, [](std::vector<uint8_t>& bytes, jet::Database& db) {
        const Target t = biggest_index(db);
        ASSERT_TRUE(t.sibling_root_at && t.sibling_map_at) << "no table with two indexes";
        for (size_t i = 0; i < 4; ++i) {
            bytes[t.sibling_root_at + i] = uint8_t(t.root >> (8 * i));
            bytes[t.sibling_map_at + i] = uint8_t(t.owned_map >> (8 * i));
        }
    });
    if (HasFatalFailure()) return;
    bool named = false;
    for (const auto& f : jet::check_database(file).findings) named |= f.code == "TDEF_INDEX_MAP";
    EXPECT_TRUE(named);

    ASSERT_NO_THROW(jet::repair_database(file));
    for (const auto& f : jet::check_database(file).findings)
        if (f.severity != jet::Severity::Info) ADD_FAILURE() << "left: " << f.code << " " << f.description;
    jet::Database db(file);
    EXPECT_TRUE(test::same_entries(before, test::all_index_entries(db)));
    expect_same_rows(source, file, "");
}

INSTANTIATE_TEST_SUITE_P(Damages, IndexRebuildDamage, ::testing::Range<size_t>(0, 7),
                         [](const auto& info) { return std::string(damages()[info.param].name); });

}  // namespace
