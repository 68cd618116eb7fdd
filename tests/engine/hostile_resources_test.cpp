// Files whose structures loop or fan out: each is examined reading a number of pages
// bounded by the file's own size, whatever its pointers say (run under ASan + UBSan).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "jet/engine.h"
#include "check_support.h"
#include "jet/repair/catalog_insert.h"
#include "jet/format/database.h"
#include "jet/file/file_lock.h"
#include "jet/file/recovery_file.h"
#include "jet/repair/repair.h"
#include "jet/file/safe_commit.h"
#include "jet/format/long_value.h"
#include "jet/file/page_file.h"
#include "jet/format/table_def.h"
#include "page_builder.h"

namespace {

constexpr const char* kFile = "jackcess/V2003/test2V2003.mdb";
// Pages of the longest chain a definition may be read through: twice the largest
// definition Access writes (under 64 KB) over 4 KB pages, with room for the 8-byte headers.
constexpr size_t kDefinitionPagesBound = 40;

// The first and last pages of a user table's definition in the copy.
std::pair<uint32_t, uint32_t> user_definition(const std::filesystem::path& path) {
    jet::Database db(path);
    for (const auto& e : db.user_tables())
        if (const auto& read = db.table_def(e.tdef_page()); read.table && read.table->complete)
            return {read.table->pages.front(), read.table->pages.back()};
    return {0, 0};
}

// Appends `count` definition continuation pages chained one to the next, the last back to
// the first; returns the first one's number.
uint32_t append_chain_loop(test::DamagedCopy& copy, uint32_t count) {
    auto& bytes = copy.bytes();
    const uint32_t ps = copy.page_size(), first = uint32_t(bytes.size() / ps);
    bytes.resize(size_t(first + count) * ps, 0);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* page = copy.page(first + i);
        page[0] = jet::page_type::table_def;
        page[1] = 0x01;
        page[2] = 'V', page[3] = 'C';
        const uint32_t next = i + 1 < count ? first + i + 1 : first;
        std::memcpy(page + 4, &next, 4);
    }
    return first;
}

void point_next(test::DamagedCopy& copy, uint32_t page, uint32_t next) { std::memcpy(copy.page(page) + 4, &next, 4); }

// Pages read_table_def reads for the definitions starting at `firsts`.
size_t definition_reads(const std::filesystem::path& path, const std::vector<uint32_t>& firsts) {
    jet::PageFile file(path);
    file.set_page_size(4096);
    std::vector<uint32_t> log;
    jet::PageFile::ReadLog logging(file, &log);
    for (uint32_t p : firsts) jet::read_table_def(file, jet::kJet4Layout, p, 1252);
    return log.size();
}

TEST(HostileResources, DefinitionChainRunningOnForTheWholeFileIsReadToABound) {
    // 3000 continuation pages in a loop after a complete definition: a chain as long as the
    // file, reported as running on past its length after a bounded read.
    test::DamagedCopy copy(kFile);
    REQUIRE_COPY(copy);
    const auto [table, last] = user_definition(copy.save());
    ASSERT_NE(table, 0u);
    point_next(copy, last, append_chain_loop(copy, 3000));
    const auto& path = copy.save();
    EXPECT_LE(definition_reads(path, {table}), kDefinitionPagesBound);
    const jet::Report report = jet::check_database(path);
    EXPECT_TRUE(test::has_code(report, "TDEF_CHAIN")) << test::describe(report);
}

TEST(HostileResources, ManyDefinitionsContinuingIntoOneChainReadABoundedShareEach) {
    // 400 copies of a definition page (tables the catalog does not name, found by the lost
    // table search) all continuing into one looping chain of 400 pages: unbounded, every
    // definition would read the whole chain (pages and memory growing with the square of
    // the file).
    test::DamagedCopy copy(kFile);
    REQUIRE_COPY(copy);
    const uint32_t table = user_definition(copy.save()).first;
    ASSERT_NE(table, 0u);
    const uint32_t ps = copy.page_size(), copies = 400;
    std::vector<uint8_t> definition(copy.page(table), copy.page(table) + ps);
    auto& bytes = copy.bytes();
    const uint32_t first_copy = uint32_t(bytes.size() / ps);
    bytes.resize(size_t(first_copy + copies) * ps, 0);
    const uint32_t chain = append_chain_loop(copy, 400);
    std::vector<uint32_t> firsts;
    for (uint32_t i = 0; i < copies; ++i) {
        std::copy(definition.begin(), definition.end(), copy.page(first_copy + i));
        point_next(copy, first_copy + i, chain);
        firsts.push_back(first_copy + i);
    }
    const auto& path = copy.save();
    EXPECT_LE(definition_reads(path, firsts), copies * kDefinitionPagesBound);
    // Unnamed copies of a named table's definition are no lost tables: the check ends
    // having read each once.
    jet::check_database(path);
}

// The first page of a user table whose definition fills one page.
uint32_t one_page_definition(const std::filesystem::path& path) {
    jet::Database db(path);
    for (const auto& e : db.user_tables())
        if (const auto& read = db.table_def(e.tdef_page()); read.table && read.table->complete && read.table->pages.size() == 1)
            return e.tdef_page();
    return 0;
}

// Gives the copy `extra` more tables ("Muchas00001", ...): copies of one definition page
// appended to the file, named in the catalog by the repair's own catalog writer.
void add_tables_to_catalog(test::DamagedCopy& file, uint32_t extra) {
    const uint32_t table = one_page_definition(file.save());
    ASSERT_NE(table, 0u);
    const uint32_t ps = file.page_size();
    const std::vector<uint8_t> definition(file.page(table), file.page(table) + ps);
    const uint32_t first = uint32_t(file.bytes().size() / ps);
    for (uint32_t i = 0; i < extra; ++i) file.bytes().insert(file.bytes().end(), definition.begin(), definition.end());
    const auto& path = file.save();

    const jet::Header header = jet::Database(path).header();
    jet::DatabaseLock lock(path);
    jet::WorkingCopy copy(lock);
    jet::RecoveryFile recovery(lock.path());
    jet::FixContext context(copy, header, recovery);
    std::vector<jet::NewCatalogTable> tables;
    for (uint32_t i = 1; i <= extra; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Muchas%05u", i);
        tables.push_back({first + i - 1, name, 0});
    }
    ASSERT_EQ(jet::add_catalog_tables(context, tables).size(), extra);
    std::filesystem::remove(copy.commit(lock));
    recovery.discard();
}

// The process's peak resident memory so far, in MB (0 where /proc is absent).
long peak_megabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
    return 0;
}

template <class F>
double seconds_of(F f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(HostileResources, CatalogOfThousandsOfTablesIsCheckedAndRepairedInTimeLinearInIt) {
    // Thousands of tables, each a copy of one definition (sharing its maps and pages): each
    // is looked at once, not once per other table. Figures for 1,000 and 5,000 show how the cost grows (printed,
    // never asserted: speed is not a test's business).
    for (const uint32_t extra : {1000u, 5000u}) {
        SCOPED_TRACE(std::to_string(extra) + " tablas");
        test::DamagedCopy copy("jackcess/V2003/delTestV2003.mdb");  // its table's definition fills one page
        REQUIRE_COPY(copy);
        add_tables_to_catalog(copy, extra);
        if (HasFatalFailure()) return;
        const auto& path = copy.path();
        size_t named = 0;
        for (const auto& e : jet::Database(path).user_tables()) named += e.name.rfind("Muchas", 0) == 0;
        ASSERT_EQ(named, extra);

        jet::Report checked, rechecked;
        std::string refused;
        const double check_time = seconds_of([&] { checked = jet::check_database(path); });
        const long check_peak = peak_megabytes();
        const double repair_time = seconds_of([&] {
            try {
                jet::repair_database(path);
            } catch (const jet::EngineError& error) {
                refused = error.what();  // a refusal names what it cannot mend; it must come, not hang
            }
        });
        const long repair_peak = peak_megabytes();
        const double recheck_time = seconds_of([&] { rechecked = jet::check_database(path); });
        std::printf("[cifras] catálogo con %u tablas más (copias de una definición): comprobar %.2f s (%zu "
                    "problemas), reparar %.2f s%s, comprobar de nuevo %.2f s (%zu problemas); memoria máxima del "
                    "proceso %ld MB tras comprobar, %ld MB tras reparar; archivo de %ju KB\n",
                    extra, check_time, checked.findings.size(), repair_time, refused.empty() ? "" : " (rechazada)",
                    recheck_time, rechecked.findings.size(), check_peak, repair_peak,
                    static_cast<std::uintmax_t>(std::filesystem::file_size(path) / 1024));
        EXPECT_FALSE(checked.clean()) << "tables sharing one table's maps and pages are reported";
    }
}

// LVAL pages in memory: each row holds a 4-byte next pointer and `data` bytes; row r of
// page p names row r + 1, the last row of a page the first of the next page, the very last
// the first of all (a loop through every row).
jet::PageFile lval_loop(uint32_t pages, uint16_t rows_per_page, size_t data) {
    const auto& L = jet::kJet4Layout;
    test::FileImage image(L, pages + 1);
    for (uint32_t p = 1; p <= pages; ++p) {
        test::DataPageBuilder page{L, 0x4C41564C, {}, {}};
        for (uint16_t r = 0; r < rows_per_page; ++r) {
            uint32_t next_page = p, next_row = r + 1u;
            if (next_row == rows_per_page) next_page = p == pages ? 1 : p + 1, next_row = 0;
            std::vector<uint8_t> row(4 + data, uint8_t('a' + r % 26));
            test::put32(row, 0, next_page << 8 | next_row);
            page.add(row);
        }
        image.set_page(p, page.build());
    }
    return jet::PageFile(std::move(image.bytes), L.page_size);
}

TEST(HostileResources, LongValueChainsInALoopEndAfterEveryRowOnce) {
    struct Case {
        uint16_t rows_per_page;
        size_t data;
    };
    // Rows carrying data, and rows carrying none (a chain that never grows its value).
    for (const Case c : {Case{40, 60}, Case{200, 0}}) {
        SCOPED_TRACE("filas de " + std::to_string(c.data) + " bytes");
        const uint32_t pages = 300;
        const jet::PageFile file = lval_loop(pages, c.rows_per_page, c.data);
        std::vector<uint8_t> field(12, 0);
        test::put32(field, 0, jet::kLongValueLengthMask);  // claims a gigabyte
        test::put32(field, 4, 1u << 8);
        const jet::LongValue value = jet::read_long_value(file, jet::kJet4Layout, field);
        EXPECT_FALSE(value.complete);
        EXPECT_EQ(value.rows.size(), size_t(pages) * c.rows_per_page);
        EXPECT_EQ(value.data.size(), value.rows.size() * c.data);
        ASSERT_FALSE(value.faults.empty());
        EXPECT_EQ(value.faults.back().kind, jet::FaultKind::LongValueCycle);
    }
}

}  // namespace
