// Live rows flagged deleted by a stray write (the deleted bit of their row-offset word set,
// their bytes and the table's count untouched), on every readable corpus file, in a table
// with indexes and in one without, one slot or several of one page. The repair must bring
// back every row its evidence covers and invent none, judged by both independent readers;
// and rows Access itself deleted must stay deleted, in an intact file and next to other damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <optional>

#include "corpus_support.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/engine.h"
#include "jet/repair/repair.h"
#include "row_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

// Which table, how many slots of one page, and the bits set on their row-offset words: the
// deleted bit alone (a stray bit), or with the overflow bit, as Access flags its deletions.
struct Kind {
    const char* name;
    bool indexed;
    std::size_t slots;
    uint8_t bits;  // on the high byte of the word
};
constexpr Kind kKinds[] = {
    {"IndexedOneBit", true, 1, 0x80},   {"IndexedSeveralBit", true, 3, 0x80},
    {"PlainOneBit", false, 1, 0x80},    {"PlainSeveralBit", false, 3, 0x80},
    {"IndexedOneMark", true, 1, 0xC0},  {"IndexedSeveralMark", true, 3, 0xC0},
    {"PlainOneMark", false, 1, 0xC0},   {"PlainSeveralMark", false, 3, 0xC0},
};

// Where each slot word of a page lies in the file.
std::size_t slot_word(const jet::Layout& layout, uint32_t page, uint16_t slot) {
    return std::size_t(page) * layout.page_size + layout.data_header_size + 2 * std::size_t(slot);
}

struct Target {
    std::string table;
    uint32_t page = 0;
    std::vector<uint16_t> slots;
    bool access_deleted_bytes = false;  // the table holds a row Access deleted whose bytes stayed
};

// Whether a table's pages hold a slot flagged as Access flags deletions with bytes behind it.
bool has_deleted_bytes(jet::Database& db, const std::vector<uint32_t>& pages) {
    for (uint32_t p : pages) {
        const jet::DataPage page(db.file().page(p), db.layout());
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const jet::RowSlot s = page.slot(i);
            if (s.deleted() && s.overflow() && s.length() > 0) return true;
        }
    }
    return false;
}

// The first user table with (or without) indexes having a data page with enough ordinary
// live rows; the slots hit are spread over the page's live rows.
std::optional<Target> find_target(const fs::path& file, const Kind& kind) {
    jet::Database db(file);
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete || def.table->real_indexes.empty() == kind.indexed) continue;
        jet::Faults faults;
        const std::vector<uint32_t> pages = db.data_pages(*def.table, e.name, faults);
        for (uint32_t p : pages) {
            const jet::DataPage page(db.file().page(p), db.layout());
            std::vector<uint16_t> live;
            for (uint16_t i = 0; i < page.row_count(); ++i) {
                const jet::RowSlot s = page.slot(i);
                if (!s.deleted() && !s.overflow() && s.bounds_ok && s.length() >= 4) live.push_back(i);
            }
            const std::size_t n = kind.slots;
            if (live.size() < n) continue;
            Target t{e.name, p, {}, has_deleted_bytes(db, pages)};
            for (std::size_t k = 0; k < n; ++k) t.slots.push_back(live[n == 1 ? live.size() / 2 : k * (live.size() - 1) / (n - 1)]);
            return t;
        }
    }
    return std::nullopt;
}

// Every slot word of every data page (Access's own tables and long values too) that
// carries the deleted bit, by file offset.
std::vector<std::size_t> deleted_slot_words(const fs::path& file) {
    jet::Database db(file);
    std::vector<std::size_t> words;
    for (uint32_t p = 1; p < db.file().page_count(); ++p) {
        const jet::PageRef bytes = db.file().fetch(p);
        const jet::DataPage page(bytes, db.layout());
        if (!page.is_data_page()) continue;
        for (uint16_t i = 0; i < page.row_count(); ++i)
            if (page.slot(i).deleted()) words.push_back(slot_word(db.layout(), p, i));
    }
    return words;
}

bool deleted_bit(const std::vector<uint8_t>& bytes, std::size_t word) {
    return word + 1 < bytes.size() && (bytes[word + 1] & 0x80) != 0;
}

std::size_t count_code(const jet::Report& report, const std::string& code) {
    return std::count_if(report.findings.begin(), report.findings.end(),
                         [&](const jet::Finding& f) { return f.code == code; });
}

struct Figures {
    std::size_t cases = 0, hit = 0, intact = 0, floor = 0, kept = 0, back = 0, invented = 0, whole = 0, left_deleted = 0;
};
std::map<std::pair<std::string, std::string>, Figures> figures;
const bool printed = (print_at_end([] {
    if (figures.empty()) return;
    std::cout << "\n== Rows flagged deleted (kind, format: cases, slots hit, rows intact / better reader's "
                 "floor / kept by both / brought back, invented, readable whole by both, cases where the evidence "
                 "brought none back) ==\n";
    for (const auto& [key, f] : figures)
        std::cout << key.first << ", " << key.second << ": " << f.cases << " cases, " << f.hit << " slots, rows "
                  << f.intact << " / " << f.floor << " / " << f.kept << " / " << f.back << ", invented " << f.invented
                  << ", whole " << f.whole << "/" << f.cases << ", left deleted " << f.left_deleted << "\n";
}), true);

// A repair that must succeed and settle (see expect_settled).
jet::Report expect_settled_repair(const fs::path& database, const std::vector<uint8_t>& damaged) {
    jet::Report report;
    EXPECT_NO_THROW(report = jet::repair_database(database));
    if (report.backup.empty()) {
        ADD_FAILURE() << "the damage was not repaired";
        return report;
    }
    expect_settled(database, report, damaged);
    return report;
}

struct Case {
    CorpusFile file;
    Kind kind;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.file.name << " / " << c.kind.name; }

class FlaggedDeleted : public ::testing::TestWithParam<Case> {};

std::vector<Case> flagged_cases() {
    std::vector<Case> cases;
    for (const CorpusFile& file : readable_corpus())
        for (Kind kind : kKinds) cases.push_back({file, kind});
    return cases;
}

}  // namespace

TEST_P(FlaggedDeleted, BringsBackWhatTheEvidenceCovers) {
    const Case& c = GetParam();
    if (const auto why = why_unusable(c.file)) GTEST_SKIP() << *why;
    const auto target = find_target(c.file.path, c.kind);
    if (!target) GTEST_SKIP() << "no table and page for " << c.kind.name << " in this file";

    TempFolder folder;
    const fs::path database = folder / c.file.path.filename().string();
    std::vector<uint8_t> bytes = read_bytes(c.file.path);
    const jet::Layout layout = *jet::Database(c.file.path).header().layout;
    for (uint16_t slot : target->slots) bytes[slot_word(layout, target->page, slot) + 1] |= c.kind.bits;
    write_bytes(database, bytes);
    SCOPED_TRACE(target->table + ", page " + std::to_string(target->page));

    const Readings damaged = read_with_both(database);

    const jet::Report report = expect_settled_repair(database, bytes);
    const std::size_t back = count_code(report, "ROW_DELETED_COUNTED");
    // Indexes name the rows; without one, a stray deleted bit alone is told from Access's own
    // mark, unless a row Access deleted kept its bytes too (then the count cannot say which).
    // Access's mark in a table without indexes is a row Access deleted under a stale count.
    const bool evidence =
        c.kind.indexed || (c.kind.bits == 0x80 && !target->access_deleted_bytes);
    EXPECT_EQ(back, evidence ? target->slots.size() : 0u) << "rows brought back";
    const auto now = read_bytes(database);
    for (uint16_t slot : target->slots) {
        const uint8_t flags = now[slot_word(layout, target->page, slot) + 1] & 0xC0;
        EXPECT_EQ(flags, back == 0 ? c.kind.bits : 0) << "slot " << slot << ": reported and repaired disagree";
    }

    Figures& f = figures[{c.kind.name, format_family(c.file.format)}];
    ++f.cases;
    f.hit += target->slots.size();
    f.back += back;
    f.left_deleted += back == 0;
    const Verdict verdict = expect_floors_kept(c.file.path, damaged, read_with_both(database));
    const Floor& tools = verdict.floors.at(Reader::Mdbtools);
    const Floor& node = verdict.floors.at(Reader::MdbReader);
    // Brought back, every row the damage hid is there again.
    if (back > 0) {
        for (const auto& [reader, floor] : verdict.floors) EXPECT_EQ(floor.kept, floor.intact) << reader_name(reader);
    }
    f.intact += tools.intact;
    f.floor += std::max(tools.read, node.read);
    f.kept += std::min(tools.kept, node.kept);
    f.invented += tools.invented + node.invented;
    f.whole += verdict.whole_by_both;
}

INSTANTIATE_TEST_SUITE_P(Corpus, FlaggedDeleted, ::testing::ValuesIn(flagged_cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return test_name(info.param.file.name + "_" + info.param.kind.name);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FlaggedDeleted);

// Every user table's stored row count one above its rows, as a crash between writing the
// rows and the count leaves it: a stale count alone.
bool raise_row_counts(const fs::path& intact, std::vector<uint8_t>& bytes) {
    jet::Database db(intact);
    const jet::Layout& layout = db.layout();
    bool raised = false;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const std::size_t at = std::size_t(e.tdef_page()) * layout.page_size + layout.tdef_num_rows;
        if (e.tdef_page() == 0 || at + 4 > bytes.size()) continue;
        for (std::size_t i = 0; i < 4 && ++bytes[at + i] == 0; ++i) {}
        raised = true;
    }
    return raised;
}

using OtherDamage = std::function<bool(const fs::path&, std::vector<uint8_t>&)>;
std::vector<std::pair<std::string, OtherDamage>> other_damage() {
    auto row_kind = [](RowKind kind) {
        return OtherDamage([kind](const fs::path& f, std::vector<uint8_t>& b) { return apply_row_damage(f, b, kind).has_value(); });
    };
    return {{row_kind_name(RowKind::RowUndecodable), row_kind(RowKind::RowUndecodable)},
            {row_kind_name(RowKind::FreeSpaceWrong), row_kind(RowKind::FreeSpaceWrong)},
            {"RowCountsRaised", raise_row_counts}};
}

// Rows Access deleted: in an intact file nothing is brought back (the file is not even
// rewritten), and next to damage of another kind, whose fixes recount the rows and rebuild
// indexes, or next to stale counts, every slot Access flagged deleted keeps its flag.
class AccessDeleted : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(AccessDeleted, StayDeleted) {
    const CorpusFile& file = GetParam();
    if (!fs::exists(file.path)) GTEST_SKIP() << "corpus file missing: " << file.path;
    if (!intact_is_sound(file.path)) GTEST_SKIP() << "the corpus file itself has problems";
    const std::vector<std::size_t> deleted = deleted_slot_words(file.path);
    if (deleted.empty()) GTEST_SKIP() << "no row Access deleted in this file's tables";

    TempFolder folder;
    const fs::path database = folder / file.path.filename().string();
    const std::vector<uint8_t> intact = read_bytes(file.path);
    write_bytes(database, intact);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    EXPECT_TRUE(report.backup.empty()) << "an intact file was rewritten";
    EXPECT_EQ(count_code(report, "ROW_DELETED_COUNTED"), 0u);
    EXPECT_EQ(read_bytes(database), intact);

    for (const auto& [name, damage] : other_damage()) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = intact;
        if (!damage(file.path, bytes)) continue;
        const fs::path damaged = folder / (name + file.path.extension().string());
        write_bytes(damaged, bytes);
        const jet::Report repaired = expect_settled_repair(damaged, bytes);
        EXPECT_EQ(count_code(repaired, "ROW_DELETED_COUNTED"), 0u);
        const auto now = read_bytes(damaged);
        for (std::size_t word : deleted) EXPECT_TRUE(deleted_bit(now, word)) << "slot word at " << word << " came back";
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, AccessDeleted, ::testing::ValuesIn(readable_corpus()),
                         [](const ::testing::TestParamInfo<CorpusFile>& info) {
                             return test_name(info.param.name + "_deleted");
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(AccessDeleted);
