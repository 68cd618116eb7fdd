// repair_database() beyond single damages: clean files stay untouched, problems without a
// fix are refused with the file as it was, and the pieces (commit slots, recovery lines).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "jet/engine.h"
#include "corpus_support.h"
#include "injector.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/file/file_lock.h"
#include "jet/format/header.h"
#include "jet/file/recovery_file.h"
#include "jet/repair/repair.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

fs::path copy_of(const TempFolder& folder, const std::string& corpus_name) {
    const fs::path from = corpus_dir() / corpus_name;
    const fs::path to = folder / from.filename().string();
    write_bytes(to, read_bytes(from));
    return to;
}

}  // namespace

TEST(RepairDatabase, CleanFilesAreNotRewritten) {
    const auto corpus = readable_corpus();
    if (corpus.empty()) GTEST_SKIP() << "corpus not found at " << corpus_dir();
    for (const CorpusFile& file : corpus) {
        TempFolder folder;
        const fs::path database = copy_of(folder, file.name);
        struct stat before;
        ASSERT_EQ(::stat(database.c_str(), &before), 0);
        jet::Report report;
        try {
            report = jet::repair_database(database);
        } catch (const jet::EngineError& error) {
            ADD_FAILURE() << file.name << ": " << error.what();
            continue;
        }
        struct stat after;
        ASSERT_EQ(::stat(database.c_str(), &after), 0);
        bool clean = true;
        for (const auto& f : report.findings) clean = clean && jet::tolerated(f);
        if (!clean) continue;  // an intact file the check faults: covered by the check's own tests
        EXPECT_TRUE(report.backup.empty()) << file.name;
        EXPECT_EQ(before.st_ino, after.st_ino) << file.name;
        EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec) << file.name;
        EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec) << file.name;
        EXPECT_EQ(folder.entries(), std::vector<std::string>{database.filename().string()}) << file.name;
    }
}

// A stale count of Access's own catalog is a note: alone it never makes the repair rewrite
// the file, and it is put right when the file is rewritten for a user table's count.
TEST(RepairDatabase, SystemTableCountsAreMendedOnlyAlongsideRealDamage) {
    const fs::path intact = corpus_dir() / "jackcess/V2003/test2V2003.mdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    const uint32_t user_table = first_user_table_with_rows(intact);
    ASSERT_NE(user_table, 0u);
    for (const bool user_damage : {false, true}) {
        SCOPED_TRACE(user_damage ? "with a user table's stale count" : "catalog count alone");
        TempFolder folder;
        const fs::path database = folder / "db.mdb";
        auto bytes = read_bytes(intact);
        ASSERT_TRUE(damage::apply(bytes, Damage{Kind::StaleRowCount, 2}));
        if (user_damage) {
            ASSERT_TRUE(damage::apply(bytes, Damage{Kind::StaleRowCount, user_table}));
        }
        write_bytes(database, bytes);
        const jet::Report report = jet::repair_database(database);
        EXPECT_EQ(report.backup.empty(), !user_damage);
        EXPECT_EQ(read_bytes(database) == bytes, !user_damage);
        if (user_damage) {
            EXPECT_TRUE(read_bytes(database) == read_bytes(intact)) << "both counts put back";
        }
    }
}

TEST(RepairDatabase, ReadOnlyDatabaseIsRepairedOnlyWhenItNeedsNothing) {
    TempFolder folder;
    if (!fs::exists(corpus_dir() / "jackcess/V2000/test2V2000.mdb")) GTEST_SKIP() << "corpus not found";
    const fs::path database = copy_of(folder, "jackcess/V2000/test2V2000.mdb");
    ::chmod(database.c_str(), 0444);
    EXPECT_NO_THROW(jet::repair_database(database)) << "a clean read-only file needs no writing";

    auto bytes = read_bytes(database);
    damage::apply(bytes, Damage{Kind::TornAppend});
    ::chmod(database.c_str(), 0644);
    write_bytes(database, bytes);
    ::chmod(database.c_str(), 0444);
    std::string refusal;
    try {
        jet::repair_database(database);
    } catch (const jet::EngineError& error) {
        refusal = error.what();
    }
    EXPECT_NE(refusal.find("solo lectura"), std::string::npos) << refusal;
    EXPECT_EQ(read_bytes(database), bytes);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"test2V2000.mdb"});
}

namespace {

// Points the catalog row of the table defined at `from` at the definition of another table
// (Jet 4: the row's Id, its first fixed column, follows the 2-byte column count). Two
// catalog rows then share one definition, which nothing can tell apart.
bool share_a_definition(std::vector<uint8_t>& f, uint32_t from) {
    constexpr std::size_t page_size = 4096;
    auto u16 = [&](std::size_t at) { return uint32_t(f[at] | f[at + 1] << 8); };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::size_t from_row = 0;
    uint32_t other = 0;
    for (std::size_t page = 3; page < f.size() / page_size; ++page) {
        const std::size_t at = page * page_size;
        if (f[at] != 0x01 || u32(at + 4) != 2) continue;  // a data page of the catalog
        for (uint32_t slot = 0; slot < u16(at + 12); ++slot) {
            const uint32_t offset = u16(at + 14 + 2 * slot);
            if (offset & 0xC000) continue;
            const std::size_t row = at + (offset & 0x1FFF);
            const uint32_t id = u32(row + 2);
            if (id == from) from_row = row;
            else if (id != 2 && id < f.size() / page_size && f[id * page_size] == 0x02) other = id;
        }
    }
    if (from_row == 0 || other == 0) return false;
    for (int i = 0; i < 4; ++i) f[from_row + 2 + i] = uint8_t(other >> (8 * i));
    return true;
}

}  // namespace

TEST(RepairDatabase, ProblemWithoutAFixIsRefusedAndListed) {
    TempFolder folder;
    if (!fs::exists(corpus_dir() / "jackcess/V2003/test2V2003.mdb")) GTEST_SKIP() << "corpus not found";
    const fs::path database = copy_of(folder, "jackcess/V2003/test2V2003.mdb");
    auto bytes = read_bytes(database);
    const auto tdef = first_user_table_def(bytes);
    ASSERT_TRUE(tdef.has_value());
    ASSERT_TRUE(share_a_definition(bytes, *tdef));
    write_bytes(database, bytes);
    std::string refusal;
    try {
        jet::repair_database(database);
    } catch (const jet::EngineError& error) {
        refusal = error.what();
    }
    EXPECT_NE(refusal.find("test2V2003.mdb"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("aún no tienen arreglo"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("la misma definición"), std::string::npos) << refusal;
    EXPECT_EQ(read_bytes(database), bytes);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"test2V2003.mdb"});
}

TEST(RepairDatabase, LockedDatabaseIsRefusedBeforeAnythingIsRead) {
    TempFolder folder;
    if (!fs::exists(corpus_dir() / "jackcess/V1997/test2V1997.mdb")) GTEST_SKIP() << "corpus not found";
    const fs::path database = copy_of(folder, "jackcess/V1997/test2V1997.mdb");
    auto bytes = read_bytes(database);
    damage::apply(bytes, Damage{Kind::TornAppend});
    write_bytes(database, bytes);
    jet::DatabaseLock other(database);
    EXPECT_THROW(jet::repair_database(database), jet::EngineError);
    EXPECT_EQ(read_bytes(database), bytes);
}

TEST(RepairDatabase, TrailingBytesGoToTheRecoveryFile) {
    TempFolder folder;
    if (!fs::exists(corpus_dir() / "jackcess/V2000/test2V2000.mdb")) GTEST_SKIP() << "corpus not found";
    const fs::path database = copy_of(folder, "jackcess/V2000/test2V2000.mdb");
    const auto intact = read_bytes(database);
    auto bytes = intact;
    damage::apply(bytes, Damage{Kind::TornAppend});
    write_bytes(database, bytes);
    const jet::Report report = jet::repair_database(database);
    ASSERT_FALSE(report.findings.empty());
    EXPECT_EQ(report.findings.front().code, "HDR_FILE_SIZE");
    EXPECT_EQ(read_bytes(database), intact) << "cutting the torn tail gives back the intact file";
    EXPECT_EQ(report.recovery, folder / "test2V2000 (datos recuperados).jsonl");
    EXPECT_EQ(report.unsaved, 0u);
    const auto saved = read_bytes(report.recovery);
    const std::string line(saved.begin(), saved.end());
    EXPECT_NE(line.find("\"pagina\":" + std::to_string(intact.size() / 4096)), std::string::npos) << line;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

TEST(CommitSlots, BusySlotsReturnToIdleAndNothingElseChanges) {
    TempFolder folder;
    if (!fs::exists(corpus_dir() / "jackcess/V1997/test2V1997.mdb")) GTEST_SKIP() << "corpus not found";
    const fs::path database = copy_of(folder, "jackcess/V1997/test2V1997.mdb");
    const auto intact = read_bytes(database);
    auto bytes = intact;
    ASSERT_TRUE(damage::apply(bytes, Damage{Kind::CommitSlotsBusy}));
    bytes[0x600 + 2 * 200] = 0x07;  // a far slot too
    write_bytes(database, bytes);

    jet::DatabaseLock lock(database);
    jet::WorkingCopy copy(lock);
    auto parsed = jet::parse_header(std::span<const uint8_t>(bytes.data(), 3 * 4096));
    ASSERT_TRUE(parsed.header);
    jet::RecoveryFile recovery(database);
    jet::FixContext context(copy, *parsed.header, recovery);
    jet::fix_commit_slots(context, {});
    const auto page0 = context.read_page(0);
    for (std::size_t slot = 0; slot < jet::kCommitSlotCount; ++slot)
        EXPECT_FALSE(jet::commit_slot_busy(page0, slot)) << "slot " << slot;
    for (std::size_t i = 0; i < 2048; ++i) {
        if (i >= 0x600 + 2 * 2 && i < 0x800) {
            EXPECT_EQ(page0[i], i % 2 == 0 ? 0x00 : 0x01) << "byte " << i;
        } else if (i >= 0x600 && i < 0x604) {
            EXPECT_EQ(page0[i], i % 2 == 0 ? 0x00 : 0x01) << "slots 0-1 read FF FF: busy, reset";
        } else {
            EXPECT_EQ(page0[i], bytes[i]) << "byte " << i << " outside the slots changed";
        }
    }
    EXPECT_TRUE(recovery.path().empty());
}

TEST(CommitSlots, CleanFilePatternsAreNotBusy) {
    std::vector<uint8_t> page0(2048, 0);
    for (std::size_t s = 0; s < jet::kCommitSlotCount; ++s) page0[0x600 + 2 * s + 1] = 0x01;
    page0[0x600] = 0x1D;  // slot 0 as a cleanly closed file leaves it
    page0[0x602] = 0x31;
    for (std::size_t s = 0; s < jet::kCommitSlotCount; ++s) EXPECT_FALSE(jet::commit_slot_busy(page0, s)) << s;
    page0[0x600 + 2 * 9] = 0x02;
    EXPECT_TRUE(jet::commit_slot_busy(page0, 9));
    page0[0x601] = 0xFF;
    EXPECT_TRUE(jet::commit_slot_busy(page0, 0));
}

TEST(RecoveryLine, EscapesTextAndReplacesBrokenUtf8) {
    jet::RecoveredItem item;
    item.table = "Año \"x\"\n";
    item.page = 7;
    item.row = 3;
    item.reason = "fila ilegible\t\x01";
    item.values = {{"Nombre", std::string("ab\xFF", 3)}};
    item.raw = {0x00, 0xAB, 0x10};
    EXPECT_EQ(jet::recovery_line(item),
              "{\"tabla\":\"Año \\\"x\\\"\\n\",\"pagina\":7,\"fila\":3,\"motivo\":\"fila ilegible\\t\\u0001\","
              "\"valores\":{\"Nombre\":\"ab\xEF\xBF\xBD\"},\"bytes\":\"00ab10\"}\n");
}

TEST(RecoveryFile, NeverOverwritesAndDiscardRemovesOnlyItsOwnFile) {
    TempFolder folder;
    const fs::path database = folder / "Base.mdb";
    write_bytes(database, {1, 2, 3});
    write_bytes(folder / "Base (datos recuperados).jsonl", {'x'});
    jet::RecoveryFile recovery(database);
    recovery.save(jet::RecoveredItem{});
    EXPECT_EQ(recovery.path(), folder / "Base (datos recuperados 2).jsonl");
    EXPECT_EQ(recovery.count(), 1u);
    recovery.discard();
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"Base (datos recuperados).jsonl", "Base.mdb"}));
}

namespace {
// The bytes a fix leaves in a working copy of the given file.
std::vector<uint8_t> after_fix(const fs::path& database, const std::vector<uint8_t>& bytes,
                               void (*fix)(jet::FixContext&, std::span<const jet::Finding>)) {
    write_bytes(database, bytes);
    jet::DatabaseLock lock(database);
    jet::WorkingCopy copy(lock);
    auto parsed = jet::parse_header(std::span<const uint8_t>(bytes.data(), std::min<std::size_t>(bytes.size(), 3 * 4096)));
    if (!parsed.header) return {};
    jet::RecoveryFile recovery(database);
    jet::FixContext context(copy, *parsed.header, recovery);
    fix(context, {});
    copy.file().sync();
    return read_bytes(copy.path());
}
}  // namespace

// The row-count fix on its own (the check's pass for it may not exist yet): over every
// readable corpus file, a stale count is put back to what the rows say and no other byte
// moves. (A corpus file may itself carry stale counts: the fix of the intact file is the
// reference.)
TEST(RowCountFix, RestoresTheCountAndNothingElse) {
    const auto corpus = readable_corpus();
    if (corpus.empty()) GTEST_SKIP() << "corpus not found at " << corpus_dir();
    std::size_t fixed = 0;
    for (const CorpusFile& file : corpus) {
        TempFolder folder;
        const fs::path database = folder / "db.mdb";
        const auto intact = read_bytes(file.path);
        auto bytes = intact;
        if (!damage::apply(bytes, Damage{Kind::StaleRowCount})) continue;
        const auto reference = after_fix(database, intact, jet::fix_row_counts);
        const auto result = after_fix(database, bytes, jet::fix_row_counts);
        ASSERT_EQ(result.size(), intact.size()) << file.name;
        std::size_t differing = 0;
        std::size_t changed_in_intact = 0;
        for (std::size_t i = 0; i < intact.size(); ++i) {
            differing += result[i] != reference[i];
            changed_in_intact += reference[i] != intact[i];
        }
        EXPECT_EQ(differing, 0u) << file.name;
        EXPECT_LE(changed_in_intact, 4u * 8) << file.name << ": only row-count fields may change";
        ++fixed;
    }
    EXPECT_GT(fixed, 10u);
}

// A calculated value whose wrapper declares more data than it holds is damage: the check
// names it, the repair empties that one value and keeps every other of the row.
TEST(RepairDatabase, ABrokenCalculatedValueIsEmptied) {
    const std::string name = "jackcess/V2010/calcFieldTestV2010.accdb";
    if (!fs::exists(corpus_dir() / name)) GTEST_SKIP() << "corpus not found";
    TempFolder folder;
    const fs::path database = copy_of(folder, name);
    std::optional<size_t> length_at;  // IsRich's data length in the first row read
    std::vector<jet::Value> before;
    {
        jet::Database db(database);
        const auto table = db.user_tables().at(0);
        const jet::TableDef& t = *db.table_def(table.tdef_page()).table;
        const auto column = std::find_if(t.columns.begin(), t.columns.end(),
                                         [](const jet::Column& c) { return c.name == "IsRich"; });
        ASSERT_NE(column, t.columns.end());
        const size_t k = size_t(column - t.columns.begin());
        jet::Faults faults;
        db.scan_stored_rows(t, table.name, [&](const jet::RowLocation& at, jet::Bytes row) {
            if (length_at) return;
            const jet::CrackedRow cracked = jet::crack_row(t, db.layout(), row);
            const jet::PageRef page = db.file().fetch(at.page);
            const size_t row_start = jet::DataPage(page, db.layout()).slot(at.row).start;
            length_at = size_t(at.page) * db.header().page_size() + row_start +
                        size_t(cracked.fields[k].bytes.data() - row.data()) + jet::kCalculatedLengthOffset;
            before = jet::decode_row(t, row, db.decode_context()).values;
        }, faults);
    }
    ASSERT_TRUE(length_at);
    auto bytes = read_bytes(database);
    bytes[*length_at] = 200;
    write_bytes(database, bytes);

    const jet::Report found = jet::check_database(database);
    EXPECT_TRUE(std::any_of(found.findings.begin(), found.findings.end(),
                            [](const jet::Finding& f) { return f.code == "ROW_VALUE_LENGTH"; }));
    ASSERT_NO_THROW(jet::repair_database(database));
    for (const auto& f : jet::check_database(database).findings) EXPECT_TRUE(jet::tolerated(f)) << f.code;
    jet::Database db(database);
    const auto table = db.user_tables().at(0);
    const jet::TableDef& t = *db.table_def(table.tdef_page()).table;
    std::vector<jet::Value> after;
    jet::Faults faults;
    db.scan_rows(t, table.name, [&](const jet::RowLocation&, std::vector<jet::Value>&& v) {
        if (after.empty()) after = std::move(v);
    }, faults);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k)
        EXPECT_EQ(after[k], t.columns[k].name == "IsRich" ? jet::Value{jet::Null{}} : before[k]) << t.columns[k].name;
}
