// Usage maps and stored counts: damage made here with a small reading of the format of
// its own (map rows found from the TDEF and the row-offset table, not through the
// engine), on a Jet 3, a Jet 4 and an ACE file. Maps rebuilt from the pages must give back
// the intact bytes where the damage only touched a map; every repaired file must hold up
// (our check finds nothing, mdbtools reads every table with every row, a second repair
// changes nothing, the backup is the damaged file).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>

#include "corpus_support.h"
#include "injector.h"
#include "jet/format/database.h"
#include "jet/engine.h"
#include "jet/format/header.h"
#include "jet/repair/repair.h"
#include "jet/file/safe_commit.h"
#include "jet/repair/usage_map_writer.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

using File = std::vector<uint8_t>;

uint16_t u16(const File& f, std::size_t at) { return static_cast<uint16_t>(f[at] | f[at + 1] << 8); }
uint32_t u32(const File& f, std::size_t at) {
    return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24;
}
void put32(File& f, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where a map row lies in the file: [begin, end).
struct RowSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::optional<RowSpan> row_at(const File& f, uint32_t row_pointer) {
    const Layout l = layout_of(f);
    const uint32_t page = row_pointer >> 8;
    const unsigned row = row_pointer & 0xFF;
    const std::size_t at = std::size_t(page) * l.page_size;
    if (page == 0 || at + l.page_size > f.size() || f[at] != 0x01) return std::nullopt;
    const std::size_t table = at + (l.jet3 ? 0x0A : 0x0E);
    if (row >= u16(f, at + (l.jet3 ? 0x08 : 0x0C))) return std::nullopt;
    const std::size_t begin = u16(f, table + 2 * row) & 0x1FFF;
    const std::size_t end = row == 0 ? l.page_size : u16(f, table + 2 * (row - 1)) & 0x1FFF;
    if (begin >= end || end > l.page_size) return std::nullopt;
    return RowSpan{at + begin, at + end};
}

// Where the definition at `tdef` keeps its owned-pages (which = 0) or free-space (which = 1)
// map pointer.
std::size_t map_pointer_at(const File& f, uint32_t tdef, int which) {
    const Layout l = layout_of(f);
    return std::size_t(tdef) * l.page_size + (l.jet3 ? 0x23 : 0x37) + 4 * which;
}

// That map's row.
std::optional<RowSpan> table_map(const File& f, uint32_t tdef, int which) {
    return row_at(f, u32(f, map_pointer_at(f, tdef, which)));
}

// Flips the bit of `page` in an inline map row; false when the row cannot hold it.
bool flip_bit(File& f, const RowSpan& row, uint32_t page) {
    if (row.end - row.begin < 5 || f[row.begin] != 0x00) return false;
    const uint32_t start = u32(f, row.begin + 1);
    if (page < start || (page - start) / 8 >= row.end - row.begin - 5) return false;
    f[row.begin + 5 + (page - start) / 8] ^= static_cast<uint8_t>(1u << ((page - start) % 8));
    return true;
}

bool bit_set(const File& f, const RowSpan& row, uint32_t page) {
    if (row.end - row.begin < 5 || f[row.begin] != 0x00) return false;
    const uint32_t start = u32(f, row.begin + 1);
    if (page < start || (page - start) / 8 >= row.end - row.begin - 5) return false;
    return f[row.begin + 5 + (page - start) / 8] & (1u << ((page - start) % 8));
}

// An inline map row on a map host page (owner 0) that lists the LVAL page `lval`.
std::optional<RowSpan> map_listing(const File& f, uint32_t lval) {
    const Layout l = layout_of(f);
    for (uint32_t p = 3; p < f.size() / l.page_size; ++p) {
        const std::size_t at = std::size_t(p) * l.page_size;
        if (f[at] != 0x01 || u32(f, at + 4) != 0) continue;
        const unsigned rows = u16(f, at + (l.jet3 ? 0x08 : 0x0C));
        for (unsigned r = 0; r < rows; ++r)
            if (auto row = row_at(f, (p << 8) | r); row && bit_set(f, *row, lval)) return row;
    }
    return std::nullopt;
}

const char* const kFiles[] = {"jackcess/V1997/test2V1997.mdb", "jackcess/V2003/test2V2003.mdb",
                              "jackcess/V2007/test2V2007.accdb", "efcore-jet/JetProviderExceptionTests/Northwind.accdb"};

struct Outcome {
    jet::Report report;
    File repaired;
};

// Repairs the damaged bytes of a corpus file and checks what every repair must hold to.
std::optional<Outcome> repair_soundly(const std::string& corpus_name, const File& damaged, const std::string& code) {
    TempFolder folder;
    const fs::path database = folder / fs::path(corpus_name).filename().string();
    write_bytes(database, damaged);
    Outcome out;
    out.report = jet::repair_database(database);
    bool found = false;
    for (const auto& f : out.report.findings) found = found || f.code == code;
    EXPECT_TRUE(found) << corpus_name << ": the check did not report " << code;
    EXPECT_FALSE(out.report.backup.empty()) << corpus_name << ": nothing was repaired";
    if (out.report.backup.empty()) return std::nullopt;
    EXPECT_EQ(read_bytes(out.report.backup), damaged);
    for (const auto& f : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(f)) << corpus_name << ": " << f.code << " " << f.description << " (" << f.object << ")";
    out.repaired = read_bytes(database);
    EXPECT_TRUE(jet::repair_database(database).backup.empty()) << corpus_name << ": a second repair rewrote it";
    if (have_mdbtools()) {
        bool ok = false;
        for (const std::string& table : mdb_tables(corpus_dir() / corpus_name, ok)) {
            bool before = false, after = false;
            const auto intact = mdb_rows(corpus_dir() / corpus_name, table, before);
            const auto now = mdb_rows(database, table, after);
            EXPECT_TRUE(after) << corpus_name << ": mdb-export fails on " << table;
            EXPECT_EQ(std::multiset<std::string>(now.begin(), now.end()),
                      std::multiset<std::string>(intact.begin(), intact.end()))
                << corpus_name << ": rows of " << table << " differ";
        }
    }
    return out;
}

using Damager = std::function<bool(File&)>;

// Every sample file: damage, repair, and (when `restores`) expect the intact bytes back.
void check_kind(const std::string& code, const Damager& damage, bool restores) {
    int tried = 0;
    for (const char* name : kFiles) {
        if (!fs::exists(corpus_dir() / name)) continue;
        const File intact = read_bytes(corpus_dir() / name);
        File damaged = intact;
        if (!damage(damaged)) {
            ADD_FAILURE() << name << ": no target for " << code;
            continue;
        }
        ++tried;
        SCOPED_TRACE(name);
        const auto out = repair_soundly(name, damaged, code);
        if (out && restores) {
            EXPECT_TRUE(out->repaired == intact) << name << ": the rebuilt maps differ from the intact ones";
        }
    }
    if (tried == 0) GTEST_SKIP() << "corpus not found at " << corpus_dir();
}

}  // namespace

TEST(MapRebuild, ChangesNothingInAnIntactFile) {
    const auto corpus = readable_corpus();
    if (corpus.empty()) GTEST_SKIP() << "corpus not found at " << corpus_dir();
    for (const CorpusFile& file : corpus) {
        TempFolder folder;
        const fs::path database = folder / file.path.filename().string();
        const File intact = read_bytes(file.path);
        write_bytes(database, intact);
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        auto parsed = jet::parse_header(std::span<const uint8_t>(intact.data(), std::min<std::size_t>(intact.size(), 3 * 4096)));
        ASSERT_TRUE(parsed.header) << file.name;
        jet::RecoveryFile recovery(database);
        jet::FixContext context(copy, *parsed.header, recovery);
        jet::rebuild_usage_maps(context);
        EXPECT_EQ(context.changes(), 0u) << file.name;
        const File rebuilt = read_bytes(copy.path());
        const auto differ = std::mismatch(rebuilt.begin(), rebuilt.end(), intact.begin(), intact.end());
        EXPECT_TRUE(differ.first == rebuilt.end() && differ.second == intact.end())
            << file.name << ": first change at byte " << (differ.first - rebuilt.begin());
    }
}

TEST(MapRepair, DataPageMissingFromItsTableMapIsMappedAgain) {
    check_kind("TABLE_PAGE_UNMAPPED", [](File& f) {
        const auto tdef = first_user_table_def(f);
        const auto page = first_data_page_with_rows(f);
        const auto map = tdef ? table_map(f, *tdef, 0) : std::nullopt;
        return page && map && bit_set(f, *map, *page) && flip_bit(f, *map, *page);
    }, true);
}

TEST(MapRepair, TableMapListingAForeignPageLosesIt) {
    check_kind("MAP_PAGE_WRONG_OWNER", [](File& f) {
        const auto tdef = first_user_table_def(f);
        const auto map = tdef ? table_map(f, *tdef, 0) : std::nullopt;
        return map && !bit_set(f, *map, 2) && flip_bit(f, *map, 2);  // page 2: the catalog's definition
    }, true);
}

TEST(MapRepair, FreeSpaceMapListingAPageTheTableDoesNotOwnLosesIt) {
    check_kind("MAP_FREE_NOT_OWNED", [](File& f) {
        const auto tdef = first_user_table_def(f);
        const auto map = tdef ? table_map(f, *tdef, 1) : std::nullopt;
        return map && !bit_set(f, *map, 2) && flip_bit(f, *map, 2);
    }, true);
}

// A map pointer copied over another (two maps naming one row): each map's rebuild would
// undo the other's, so the later one gets a row of its own and is rebuilt there. The first
// user table's pointer `to` takes pointer `from` of the catalog's definition or its own.
namespace {
Damager map_pointer_copied(bool from_catalog, int from, int to) {
    return [=](File& f) {
        const auto tdef = first_user_table_def(f);
        if (!tdef) return false;
        put32(f, map_pointer_at(f, *tdef, to), u32(f, map_pointer_at(f, from_catalog ? 2 : *tdef, from)));
        return true;
    };
}
}  // namespace

TEST(MapRepair, TableMapRowSharedWithTheCatalogGetsOneOfItsOwn) {
    check_kind("TDEF_MAP_POINTER", map_pointer_copied(true, 0, 0), false);
}

TEST(MapRepair, FreeSpaceMapRowThatIsTheTablesPageMapGetsOneOfItsOwn) {
    check_kind("TDEF_MAP_POINTER", map_pointer_copied(false, 0, 1), false);
}

// The last next-page pointer of a definition's chain copied over with another definition's
// first page (the catalog's): the chain is cut where the definition ends, giving back the
// intact bytes.
TEST(ChainRepair, DefinitionRunningIntoTheCatalogsIsCutWhereItEnds) {
    check_kind("TDEF_CHAIN", [](File& f) {
        const auto tdef = first_user_table_def(f);
        if (!tdef) return false;
        const std::size_t size = layout_of(f).page_size;
        uint32_t last = *tdef;  // the chain's last page: its next pointer is 0
        for (int hops = 0; hops < 64 && u32(f, last * size + 4) != 0; ++hops) last = u32(f, last * size + 4);
        if (u32(f, last * size + 4) != 0) return false;
        put32(f, last * size + 4, 2);
        return true;
    }, true);
}

TEST(MapRepair, LongValuePageMissingFromItsColumnMapIsMappedAgain) {
    check_kind("LV_PAGE_UNMAPPED", [](File& f) {
        const auto lval = first_lval_page(f);
        const auto map = lval ? map_listing(f, *lval) : std::nullopt;
        return map && flip_bit(f, *map, *lval);
    }, true);
}

TEST(MapRepair, UsedPageFlaggedFreeInTheGlobalMapIsUsedAgain) {
    check_kind("MAP_PAGE_FREE_BUT_USED", [](File& f) {
        const auto page = first_data_page_with_rows(f);
        return page && damage::apply(f, Damage{Kind::FlipMapBit, *page}).has_value();
    }, true);
}

TEST(MapRepair, UnreadableGlobalMapIsRebuiltFromTheUsedPages) {
    check_kind("GMAP_INVALID", [](File& f) {
        const auto row = row_at(f, 1u << 8);
        if (!row) return false;
        f[row->begin] = 0x07;  // no such map type
        return true;
    }, false);
}

// testRefGlobalV2000's global map is a reference map whose slots hold no map page. Given one
// at the end of the file (every page in the file used, as the inline map of the file it was
// made from says) in slot 0, with `damage` applied to the bytes, the repair reports `code` and
// leaves slot 0 naming a map page whose bit for Table1's definition (page 24) is clear.
void reference_global_map_repaired(const std::string& code, const std::function<void(File&, std::size_t)>& damage,
                                   bool page_added) {
    const std::string name = "jackcess/V2000/testRefGlobalV2000.mdb";
    if (!fs::exists(corpus_dir() / name)) GTEST_SKIP() << "corpus file missing: " << name;
    File f = read_bytes(corpus_dir() / name);
    const Layout l = layout_of(f);
    const auto global = row_at(f, 1u << 8);
    ASSERT_TRUE(global && f[global->begin] == 0x01);
    const uint32_t map_page = static_cast<uint32_t>(f.size() / l.page_size);
    File page(l.page_size, 0xFF);
    page[0] = 0x05;
    page[1] = 0x01;
    page[2] = page[3] = 0;
    for (uint32_t p = 0; p <= map_page; ++p) page[4 + p / 8] &= static_cast<uint8_t>(~(1u << (p % 8)));
    f.insert(f.end(), page.begin(), page.end());
    put32(f, global->begin + 1, map_page);
    damage(f, std::size_t(map_page) * l.page_size + 4);
    const auto out = repair_soundly(name, f, code);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->repaired.size(), f.size() + (page_added ? l.page_size : 0));
    const uint32_t named = u32(out->repaired, global->begin + 1);
    EXPECT_EQ(named, page_added ? map_page + 1 : map_page);
    const std::size_t bits = std::size_t(named) * l.page_size + 4;
    EXPECT_EQ(out->repaired[bits - 4], 0x05);
    EXPECT_FALSE(out->repaired[bits + 24 / 8] & (1u << (24 % 8)));
}

// A used page it flags free: the bit is cleared in the same map page.
TEST(MapRepair, UsedPageFlaggedFreeInAReferenceGlobalMapIsUsedAgain) {
    reference_global_map_repaired("MAP_PAGE_FREE_BUT_USED", [](File& f, std::size_t bits) {
        f[bits + 24 / 8] |= static_cast<uint8_t>(1u << (24 % 8));
    }, false);
}

// Slot 0 naming a page that is no map page (Table1's definition): the slot gets a new one.
TEST(MapRepair, ReferenceGlobalMapSlotNamingAnotherPageGetsAMapPage) {
    reference_global_map_repaired("GMAP_INVALID", [](File& f, std::size_t) {
        const auto global = row_at(f, 1u << 8);
        put32(f, global->begin + 1, 24);
    }, true);
}

TEST(CountRepair, AutonumberSeedBelowTheLargestValueIsRaised) {
    int tried = 0;
    std::set<std::string> families;  // one file per JET3 / JET4 / ACE
    for (const CorpusFile& file : every_readable_corpus_file()) {
        const std::string family = file.format.substr(0, 3) == "ACE" ? "ACE" : file.format;
        if (families.count(family)) continue;
        const std::string& name = file.name;
        const File intact = read_bytes(corpus_dir() / name);
        // The target: a table with an autonumber column and rows (found through the engine;
        // the damage itself is one plain field write).
        jet::Database db(corpus_dir() / name);
        std::optional<uint32_t> tdef;
        for (const auto& entry : db.user_tables()) {
            const auto& def = db.table_def(entry.tdef_page());
            if (!def.table || def.table->num_rows == 0) continue;
            for (const auto& c : def.table->columns)
                if (c.type == jet::data_type::long_integer && (c.flags & jet::column_flag::auto_long)) tdef = entry.tdef_page();
            if (tdef) break;
        }
        if (!tdef) continue;
        families.insert(family);
        ++tried;
        SCOPED_TRACE(name);
        const std::size_t seed_at = std::size_t(*tdef) * db.layout().page_size + db.layout().tdef_autonumber;
        File damaged = intact;
        put32(damaged, seed_at, 0);
        const auto out = repair_soundly(name, damaged, "TDEF_AUTONUMBER_STALE");
        if (!out) continue;
        EXPECT_GT(u32(out->repaired, seed_at), 0u);
        EXPECT_LE(u32(out->repaired, seed_at), u32(intact, seed_at)) << "the seed is the largest value, not more";
    }
    if (tried == 0) GTEST_SKIP() << "no sample file with an autonumber table";
    EXPECT_EQ(families.size(), 3u) << "an autonumber table in Jet 3, Jet 4 and ACE samples";
}

// A working copy of the largest corpus file with a fix context on it, for the map writers.
class MapWriter : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path source = corpus_dir() / "efcore-jet/EFCore.Jet.FunctionalTests/NorthwindEF7.accdb";
        if (!fs::exists(source)) GTEST_SKIP() << "corpus not found at " << corpus_dir();
        database = folder / "Northwind.accdb";
        intact = read_bytes(source);
        write_bytes(database, intact);
        auto parsed = jet::parse_header(std::span<const uint8_t>(intact.data(), 3 * 4096));
        ASSERT_TRUE(parsed.header);
        header = std::move(*parsed.header);
        lock.emplace(database);
        copy.emplace(*lock);
        recovery.emplace(database);
        context.emplace(*copy, header, *recovery);
    }
    const jet::Layout& layout() const { return *header.layout; }
    void grow_to(uint32_t pages) {
        while (context->page_count() < pages) context->append_page(std::vector<uint8_t>(layout().page_size, 0));
    }

    TempFolder folder;
    fs::path database;
    File intact;
    jet::Header header;
    std::optional<jet::DatabaseLock> lock;
    std::optional<jet::WorkingCopy> copy;
    std::optional<jet::RecoveryFile> recovery;
    std::optional<jet::FixContext> context;
};

// A table map whose inline window cannot name all the table's pages grows into a reference
// map in the same row, with map pages added at the end, and names exactly those pages.
TEST_F(MapWriter, InlineMapTooNarrowBecomesAReferenceMap) {
    const auto tdef = first_user_table_def(intact);
    ASSERT_TRUE(tdef);
    const auto map = table_map(intact, *tdef, 0);
    ASSERT_TRUE(map);
    ASSERT_EQ(intact[map->begin], 0x00) << "the corpus table's map is expected inline";
    const uint32_t pointer = u32(intact, std::size_t(*tdef) * layout().page_size + layout().tdef_owned_map);
    const auto before = jet::read_map_pages(*context, layout(), pointer);
    ASSERT_TRUE(before && !before->empty());

    // Pages far past the inline window (8 x 64 pages for a 4 KB page): the file grows to hold them.
    const uint32_t far = before->front() + 2000;
    grow_to(far + 1);
    std::vector<uint32_t> wanted = *before;
    wanted.push_back(far);
    const uint32_t pages_before = context->page_count();
    ASSERT_TRUE(jet::write_map_pages(*context, layout(), pointer, wanted));

    const File written = read_bytes(copy->path());
    EXPECT_EQ(written[map->begin], 0x01) << "the row now holds a reference map";
    EXPECT_EQ(context->page_count(), pages_before + 1) << "one map page covers every wanted page";
    EXPECT_EQ(written[std::size_t(pages_before) * layout().page_size], 0x05) << "the added page is a map page";
    EXPECT_EQ(jet::read_map_pages(*context, layout(), pointer), wanted);
}

// A file that outgrows its inline global map gets a longer row 0 on page 1 (whole 4-byte
// words), its other row kept, every page in the file named with the wanted bit.
TEST_F(MapWriter, GlobalMapRowGrowsWithTheFile) {
    const auto global = row_at(intact, 1u << 8);
    const auto second = row_at(intact, 1u << 8 | 1);
    ASSERT_TRUE(global && second);
    ASSERT_EQ(global->end - global->begin, 69u) << "the corpus file's global map is expected 64 bytes wide";
    grow_to(700);
    std::vector<bool> free(context->page_count(), true);
    for (uint32_t p = 0; p < free.size(); p += 3) free[p] = false;  // used: every third page, the last ones too
    free.back() = false;
    ASSERT_TRUE(jet::write_global_map(*context, layout(), free));

    const File written = read_bytes(copy->path());
    const auto grown = row_at(written, 1u << 8);
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->end - grown->begin, 5u + 88u) << "700 pages: 88 bitmap bytes";
    const auto kept = row_at(written, 1u << 8 | 1);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(std::equal(written.begin() + kept->begin, written.begin() + kept->end, intact.begin() + second->begin,
                           intact.begin() + second->end));
    for (uint32_t p = 0; p < free.size(); ++p) {
        const uint8_t byte = written[grown->begin + 5 + p / 8];
        EXPECT_EQ(bool(byte & (1u << (p % 8))), bool(free[p])) << "page " << p;
    }
    jet::Database db(copy->path());
    ASSERT_TRUE(db.free_pages());
    EXPECT_EQ(*db.free_pages(), free);
}

// Page 94 of this file names MSysNavPaneObjectIDs but its map no longer lists it: Access
// released it, and its 23 rows are an older copy of the table's. It stays out; once the
// stored count says the table misses those rows, the repair takes the page back.
TEST(MapRebuild, ReleasedPageIsTakenBackOnlyWhenItsTableMissesRows) {
    const std::string name = "mdb-reader/data/V2016/withdeletedcol.accdb";
    const fs::path intact_path = corpus_dir() / name;
    if (!fs::exists(intact_path)) GTEST_SKIP() << "corpus file missing: " << intact_path;
    const File intact = read_bytes(intact_path);
    uint32_t tdef = 0;
    {
        jet::Database db(intact_path);
        for (const auto& e : db.catalog().entries)
            if (e.type == 1 && e.name == "MSysNavPaneObjectIDs") tdef = e.tdef_page();
    }
    ASSERT_NE(tdef, 0u);
    constexpr uint32_t kReleased = 94, kReleasedRows = 23;
    auto codes_on = [](const fs::path& file) {
        std::multiset<std::string> codes;
        for (const auto& f : jet::check_database(file).findings)
            if (f.object.find("página " + std::to_string(kReleased)) != std::string::npos) codes.insert(f.code);
        return codes;
    };
    EXPECT_EQ(codes_on(intact_path), std::multiset<std::string>{"MAP_PAGE_LEAK"});

    TempFolder folder;
    const fs::path database = folder / "db.accdb";
    File damaged = intact;
    const std::size_t count_at = std::size_t(tdef) * layout_of(intact).page_size + 0x10;
    const uint32_t listed_rows = u32(intact, count_at);
    put32(damaged, count_at, listed_rows + kReleasedRows);
    write_bytes(database, damaged);
    EXPECT_EQ(codes_on(database), std::multiset<std::string>{"TABLE_PAGE_UNMAPPED"});
    const jet::Report report = jet::repair_database(database);
    EXPECT_FALSE(report.backup.empty());
    for (const auto& f : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(f)) << f.code << " " << f.description << " (" << f.object << ")";
    jet::Database repaired(database);
    const auto& def = repaired.table_def(tdef);
    ASSERT_TRUE(def.table);
    std::size_t rows = 0;
    jet::Faults faults;
    repaired.scan_rows(*def.table, "MSysNavPaneObjectIDs", [&](const jet::RowLocation&, auto&&) { ++rows; }, faults);
    EXPECT_EQ(rows, listed_rows + kReleasedRows);
}

// A reference global map that records nothing (its slots empty, as in testRefGlobalV2000) is
// left so. Once its slot 0 names a page that is no map page, that slot gets one, appended at
// the end with its own bit clear; written again, it keeps that page. The check then judges
// every page through it: the page is the global map's, and a used page it flags free is
// reported.
TEST_F(MapWriter, GlobalReferenceMapGetsTheMapPageItLacks) {
    const auto global = row_at(intact, 1u << 8);
    ASSERT_TRUE(global);
    const std::size_t at = global->begin - layout().page_size;  // inside page 1
    std::vector<uint8_t> host = context->read_page(1);
    std::fill(host.begin() + static_cast<std::ptrdiff_t>(at), host.begin() + static_cast<std::ptrdiff_t>(at + (global->end - global->begin)), 0);
    host[at] = 0x01;
    context->write_page(1, host);

    const std::vector<bool> free = *jet::Database(database).free_pages();  // the intact file's bits
    const uint32_t pages = context->page_count();
    const std::size_t changes = context->changes();
    ASSERT_TRUE(jet::write_global_map(*context, layout(), free));
    EXPECT_EQ(context->changes(), changes) << "nothing recorded, nothing to rewrite";

    host[at + 1] = 2;  // slot 0: the catalog's definition
    context->write_page(1, host);
    ASSERT_TRUE(jet::write_global_map(*context, layout(), free));
    ASSERT_EQ(context->page_count(), pages + 1);
    const std::vector<uint8_t> added = context->read_page(pages);
    EXPECT_EQ(std::vector<uint8_t>(added.begin(), added.begin() + 4), (std::vector<uint8_t>{0x05, 0x01, 0x00, 0x00}));
    EXPECT_EQ(u32(read_bytes(copy->path()), global->begin + 1), pages);

    std::vector<bool> now = free;
    now.push_back(false);  // the map page
    EXPECT_EQ(*jet::Database(copy->path()).free_pages(), now);
    ASSERT_TRUE(jet::write_global_map(*context, layout(), now));
    EXPECT_EQ(context->page_count(), pages + 1) << "the slot has its map page now";

    auto codes = [&] {
        std::set<std::string> out;
        for (const auto& f : jet::check_database(copy->path()).findings) out.insert(f.code);
        return out;
    };
    const std::set<std::string> intact_codes = codes();
    for (const char* code : {"GMAP_INVALID", "MAP_PAGE_LEAK", "MAP_PAGE_FREE_BUT_USED"})
        EXPECT_FALSE(intact_codes.count(code)) << code;
    std::vector<uint8_t> map_page = context->read_page(pages);
    map_page[4 + 2 / 8] |= 1u << (2 % 8);  // page 2, the catalog's definition
    context->write_page(pages, map_page);
    EXPECT_TRUE(codes().count("MAP_PAGE_FREE_BUT_USED"));
}
