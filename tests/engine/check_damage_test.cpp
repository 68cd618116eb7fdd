// One deliberate damage per problem code, made from an intact corpus copy: the check
// must report that code. Header damage is in check_header_test.cpp.
#include "jet/engine.h"
#include "check_locate.h"

namespace {

using test::Damage;

#define EXPECT_CODE(report, code) \
    EXPECT_TRUE(test::has_code(report, code)) << "falta " << code << "\n" << test::describe(report)

const char* const kJet3 = "jackcess/V1997/test2V1997.mdb";
const char* const kJet4 = "jackcess/V2003/test2V2003.mdb";
const char* const kAce = "jackcess/V2010/test2V2010.accdb";
const char* const kProject = "MSP_PROJECTS";
const char* const kOverflow = "jackcess/V2003/overflowTestV2003.mdb";
const char* const kManyRows = "jackcess/V2003/compIndexTestV2003.mdb";
const char* const kAutonumber = "tika/testAccess2_2000.mdb";

// ---------------------------------------------------------------- global page map

TEST(CheckDamage, GlobalMapOfUnknownTypeIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put8(d.map_row_at(Damage::kGlobalMap), 0x07);
    EXPECT_CODE(d.check(), "GMAP_INVALID");
}

TEST(CheckDamage, UsedPageMarkedFreeIsReported) {
    for (const char* file : {kJet3, kJet4, kAce}) {
        Damage d(file);
        REQUIRE_DAMAGE(d);
        d.set_map_bit(Damage::kGlobalMap, d.tdef_page(kProject), true);
        EXPECT_CODE(d.check(), "MAP_PAGE_FREE_BUT_USED");
    }
}

// Jackcess moves an inline global map's window forward as the file outgrows it; the pages it
// leaves behind are in use. Here the window of an intact file starts 8 pages later, its bits
// moved along: the pages before it are judged by nothing, those inside it still are, and a
// repair leaves such a file as it is.
TEST(CheckDamage, InlineGlobalMapJudgesOnlyThePagesInItsWindow) {
    constexpr uint32_t kStart = 8;
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    const size_t row = d.map_row_at(Damage::kGlobalMap);
    const jet::PageRef host = d.db().file().fetch(1);
    const size_t bitmap = jet::DataPage(host, d.layout()).row(0).size() - 5;
    ASSERT_EQ(d.get32(row + 1), 0u);
    auto& bytes = d.bytes();
    std::copy(bytes.begin() + row + 5 + kStart / 8, bytes.begin() + row + 5 + bitmap, bytes.begin() + row + 5);
    std::fill(bytes.begin() + row + 5 + bitmap - kStart / 8, bytes.begin() + row + 5 + bitmap, 0xFF);
    d.put32(row + 1, kStart);

    const jet::Report moved = d.check();
    EXPECT_TRUE(moved.clean()) << test::describe(moved);
    const std::vector<uint8_t> before = bytes;
    const jet::Report repaired = jet::repair_database(d.check_path());
    EXPECT_TRUE(repaired.clean()) << test::describe(repaired);
    EXPECT_EQ(test::read_bytes(d.check_path()), before) << "nothing to mend: the file stays as it was";

    const uint32_t used = d.tdef_page(kProject);
    ASSERT_GE(used, kStart);
    d.set_map_bit(Damage::kGlobalMap, used, true);
    const jet::Report freed = d.check();
    ASSERT_EQ(freed.findings.size(), 1u) << test::describe(freed);
    EXPECT_EQ(freed.findings[0].code, "MAP_PAGE_FREE_BUT_USED");
    EXPECT_EQ(freed.findings[0].location.page, used);
    jet::repair_database(d.check_path());
    const jet::Report after = jet::check_database(d.check_path());
    EXPECT_TRUE(after.clean()) << test::describe(after);
}

TEST(CheckDamage, UnknownPageTypeOutsideAnyStructureIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    const uint32_t p = d.a_free_page();
    d.set_map_bit(Damage::kGlobalMap, p, false);
    d.put8(d.page_at(p), 0x77);
    d.put8(d.page_at(p) + 1, 0x01);
    EXPECT_CODE(d.check(), "PAGE_TYPE_UNKNOWN");
}

TEST(CheckDamage, PageOfNoStructureNotMarkedFreeIsALeak) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    const uint32_t p = d.a_free_page();
    d.set_map_bit(Damage::kGlobalMap, p, false);
    d.put8(d.page_at(p), 0x04);  // an index leaf of a table that does not exist
    d.put8(d.page_at(p) + 1, 0x01);
    d.put32(d.page_at(p) + 4, 0x00FFFF00);
    const auto report = d.check();
    EXPECT_CODE(report, "MAP_PAGE_LEAK");
    for (const auto& f : report.findings)
        if (f.code == "MAP_PAGE_LEAK") {
            EXPECT_EQ(f.severity, jet::Severity::Info);
        }
}

TEST(CheckDamage, DataPageMissingFromItsTableMapIsReported) {
    Damage d(kManyRows);
    REQUIRE_DAMAGE(d);
    const uint32_t p = d.data_pages("Table1").back();
    d.set_map_bit(d.def("Table1").owned_map, p, false);
    EXPECT_CODE(d.check(), "TABLE_PAGE_UNMAPPED");
}

TEST(CheckDamage, TableMapListingAForeignPageIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.set_map_bit(d.def(kProject).owned_map, 2, true);  // the catalog's definition
    EXPECT_CODE(d.check(), "MAP_PAGE_WRONG_OWNER");
}

TEST(CheckDamage, FreeSpaceMapOutsideTheOwnedMapIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.set_map_bit(d.def(kProject).free_map, 3, true);
    EXPECT_CODE(d.check(), "MAP_FREE_NOT_OWNED");
}

TEST(CheckDamage, ChainRunningOnPastItsLengthIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put32(d.page_at(d.tdef_page("MSysACEs")) + 4, d.tdef_page(kProject));
    EXPECT_CODE(d.check(), "TDEF_CHAIN");
}

TEST(CheckDamage, PageClaimedByTwoStructuresIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    // MSysACEs' definition continues into the project table's definition page, and its
    // length says it needs a second page (else the chain alone is at fault: TDEF_CHAIN).
    d.put32(d.page_at(d.tdef_page("MSysACEs")) + 4, d.tdef_page(kProject));
    d.put32(d.page_at(d.tdef_page("MSysACEs")) + 8, 4096 + 100);
    EXPECT_CODE(d.check(), "MAP_PAGE_SHARED_OWNER");
}

// ---------------------------------------------------------------- catalog

TEST(CheckDamage, UnreadableCatalogDefinitionIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put8(d.page_at(2), 0x01);
    EXPECT_CODE(d.check(), "CAT_TDEF_INVALID");
}

TEST(CheckDamage, CatalogRowWithoutNameIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    auto row = d.row_with("MSysObjects", "Name");
    ASSERT_TRUE(row);
    // Clear the Name column's bit in the row's null mask (the mask ends the row).
    const jet::TableDef& cat = d.def("MSysObjects");
    const jet::Column& name = d.column("MSysObjects", "Name");
    const jet::RowSlot slot = d.data_page(row->page).slot(row->slot);
    const size_t stored = d.get16(d.row_at(row->page, row->slot));
    const size_t mask = d.page_at(row->page) + slot.end - (stored + 7) / 8;
    d.bytes()[mask + name.number / 8] &= uint8_t(~(1u << (name.number % 8)));
    (void)cat;
    EXPECT_CODE(d.check(), "CAT_ROW_UNREADABLE");
}

TEST(CheckDamage, CatalogIdNamingNoDefinitionIsReported) {
    for (const char* file : {kJet3, kJet4}) {
        Damage d(file);
        REQUIRE_DAMAGE(d);
        // The project table's catalog row: its Id is its definition page.
        const uint32_t tdef = d.tdef_page(kProject);
        bool patched = false;
        for (uint32_t p : d.data_pages("MSysObjects")) {
            jet::DataPage dp = d.data_page(p);
            for (uint16_t i = 0; i < dp.row_count() && !patched; ++i) {
                auto at = d.field_at("MSysObjects", p, i, "Id");
                if (at && d.get32(*at) == tdef) {
                    d.put32(*at, 1);  // page 1 holds the global map
                    patched = true;
                }
            }
        }
        ASSERT_TRUE(patched);
        EXPECT_CODE(d.check(), "CAT_TABLE_ID_INVALID");
    }
}

TEST(CheckDamage, TwoCatalogRowsSharingADefinitionAreReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    const uint32_t tdef = d.tdef_page(kProject);
    bool patched = false;
    for (uint32_t p : d.data_pages("MSysObjects")) {
        jet::DataPage dp = d.data_page(p);
        for (uint16_t i = 0; i < dp.row_count() && !patched; ++i) {
            auto at = d.field_at("MSysObjects", p, i, "Id");
            if (at && d.get32(*at) == tdef) {
                d.put32(*at, d.tdef_page("MSysACEs"));
                patched = true;
            }
        }
    }
    ASSERT_TRUE(patched);
    EXPECT_CODE(d.check(), "CAT_TABLE_SHARED_TDEF");
}

TEST(CheckDamage, DuplicateNameInOneFolderIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    // MSysACEs and MSysDb... any two names of equal stored length under one parent: copy one over the other.
    struct Name {
        int32_t parent;
        size_t at, length;
    };
    std::vector<Name> names;
    for (uint32_t p : d.data_pages("MSysObjects")) {
        jet::DataPage dp = d.data_page(p);
        for (uint16_t i = 0; i < dp.row_count(); ++i) {
            if (dp.slot(i).raw & 0xC000) continue;
            auto name = d.field_at("MSysObjects", p, i, "Name");
            auto parent = d.field_at("MSysObjects", p, i, "ParentId");
            if (!name || !parent) continue;
            jet::CrackedRow cr = jet::crack_row(d.def("MSysObjects"), d.layout(), dp.row(i));
            size_t length = 0;
            for (size_t k = 0; k < cr.fields.size(); ++k)
                if (d.def("MSysObjects").columns[k].name == "Name") length = cr.fields[k].bytes.size();
            names.push_back({int32_t(d.get32(*parent)), *name, length});
        }
    }
    bool patched = false;
    for (size_t a = 0; a < names.size() && !patched; ++a)
        for (size_t b = a + 1; b < names.size() && !patched; ++b)
            if (names[a].parent == names[b].parent && names[a].length == names[b].length) {
                std::copy_n(d.bytes().begin() + long(names[a].at), names[a].length, d.bytes().begin() + long(names[b].at));
                patched = true;
            }
    ASSERT_TRUE(patched);
    EXPECT_CODE(d.check(), "CAT_DUPLICATE_NAME");
}

// ---------------------------------------------------------------- table definitions

TEST(CheckDamage, BrokenDefinitionChainIsReported) {
    for (const char* file : {kJet3, kJet4}) {
        Damage d(file);
        REQUIRE_DAMAGE(d);
        d.put32(d.page_at(d.def(kProject).pages.back()) + 4, 1);  // continues into page 1
        EXPECT_CODE(d.check(), "TDEF_CHAIN");
    }
    Damage cycle(kJet4);
    REQUIRE_DAMAGE(cycle);
    const auto& pages = cycle.def(kProject).pages;
    cycle.put32(cycle.page_at(pages.back()) + 4, pages.front());
    EXPECT_CODE(cycle.check(), "TDEF_CHAIN");
}

TEST(CheckDamage, WrongDefinitionLengthIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put32(d.tdef_at(kProject, 8), d.def(kProject).tdef_len + 6);
    EXPECT_CODE(d.check(), "TDEF_LENGTH");
}

TEST(CheckDamage, ImpossibleColumnCountIsALayoutProblem) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put16(d.tdef_at(kProject, d.layout().tdef_num_cols), 0x7FFF);
    EXPECT_CODE(d.check(), "TDEF_LAYOUT");
}

TEST(CheckDamage, ColumnDescriptorDamageIsReportedPerKind) {
    for (const char* file : {kJet3, kJet4}) {
        SCOPED_TRACE(file);
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            const auto& c = d.column(kProject, "PROJ_NAME");
            d.put16(d.tdef_at(kProject, c.descriptor_offset + d.layout().col_number), 0x01F0);
            EXPECT_CODE(d.check(), "TDEF_COLUMN_NUMBER");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            const auto& c = d.column(kProject, "PROJ_OPT_CURRENCY_DIGITS");
            d.put8(d.tdef_at(kProject, c.descriptor_offset + d.layout().col_type), 0x33);
            EXPECT_CODE(d.check(), "TDEF_COLUMN_TYPE");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            const auto& c = d.column(kProject, "PROJ_NAME");
            d.put16(d.tdef_at(kProject, c.descriptor_offset + d.layout().col_var_index), 0x0150);
            EXPECT_CODE(d.check(), "TDEF_VAR_INDEX");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            const auto& c = d.column(kProject, "PROJ_OPT_MINUTES_PER_DAY");  // fixed, offset 30
            d.put16(d.tdef_at(kProject, c.descriptor_offset + d.layout().col_fixed_offset), 28);
            EXPECT_CODE(d.check(), "TDEF_FIXED_OVERLAP");
        }
    }
}

TEST(CheckDamage, TableMapPointerToNowhereIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put32(d.tdef_at(kProject, d.layout().tdef_owned_map), 0x00000003);  // page 0, row 3
    EXPECT_CODE(d.check(), "TDEF_MAP_POINTER");
}

TEST(CheckDamage, IndexDefinitionDamageIsReportedPerKind) {
    for (const char* file : {kJet3, kJet4}) {
        SCOPED_TRACE(file);
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            d.put16(d.tdef_at(kProject, d.real_index_block(kProject, 0) + d.layout().ri_columns), 0x00F0);
            EXPECT_CODE(d.check(), "TDEF_INDEX_COLUMN");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            d.put32(d.tdef_at(kProject, d.real_index_block(kProject, 0) + d.layout().ri_root_page), 1);
            EXPECT_CODE(d.check(), "TDEF_INDEX_ROOT");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            d.put32(d.tdef_at(kProject, d.real_index_block(kProject, 0) + d.layout().ri_owned_map), 0x00FFFF00);
            EXPECT_CODE(d.check(), "TDEF_INDEX_MAP");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            d.put32(d.tdef_at(kProject, d.logical_index_block(kProject, 0) + d.layout().li_real_number), 9);
            EXPECT_CODE(d.check(), "TDEF_LOGICAL_INDEX");
        }
        {
            Damage d(file);
            REQUIRE_DAMAGE(d);
            ASSERT_GE(d.def(kProject).logical_indexes.size(), 2u);
            for (size_t i = 0; i < 2; ++i)
                d.put8(d.tdef_at(kProject, d.logical_index_block(kProject, i) + d.layout().li_index_type), 0x01);
            EXPECT_CODE(d.check(), "TDEF_PRIMARY_KEYS");
        }
    }
}

TEST(CheckDamage, LongValueMapForNoSuchColumnIsReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    const auto& t = d.def(kProject);
    ASSERT_FALSE(t.long_value_maps.empty());
    // The trailer's entries end just before the closing FF FF.
    const size_t first_entry = t.parsed_length - 2 - 10 * t.long_value_maps.size();
    d.put16(d.tdef_at(kProject, first_entry), 0x0777);
    EXPECT_CODE(d.check(), "TDEF_LV_MAP");
}

TEST(CheckDamage, StaleRowCountAndAutonumberAreReported) {
    Damage d(kJet4);
    REQUIRE_DAMAGE(d);
    d.put32(d.tdef_at(kProject, d.layout().tdef_num_rows), 5);
    const auto report = d.check();
    EXPECT_CODE(report, "TDEF_ROWCOUNT_STALE");
    EXPECT_EQ(test::codes_of(report), std::vector<std::string>{"TDEF_ROWCOUNT_STALE"}) << test::describe(report);

    Damage a(kAutonumber);
    REQUIRE_DAMAGE(a);
    a.put32(a.tdef_at("Table1", a.layout().tdef_autonumber), 0);
    EXPECT_CODE(a.check(), "TDEF_AUTONUMBER_STALE");
}

// ---------------------------------------------------------------- data pages and rows

TEST(CheckDamage, DataPageHeaderAndSlotDamageIsReportedPerKind) {
    const uint32_t page = 0;  // filled per copy
    (void)page;
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put16(d.page_at(p) + d.layout().data_row_count, 0x7FFF);
        EXPECT_CODE(d.check(), "DPAGE_HEADER");
    }
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put16(d.slot_at(p, 3), 0x1FF0);
        EXPECT_CODE(d.check(), "ROW_OFFSET_BOUNDS");
    }
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put16(d.slot_at(p, 3), uint16_t(d.get16(d.slot_at(p, 2)) + 10));
        EXPECT_CODE(d.check(), "ROW_OFFSET_OVERLAP");
    }
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put16(d.page_at(p) + 2, uint16_t(d.get16(d.page_at(p) + 2) + 1));
        EXPECT_CODE(d.check(), "DPAGE_FREE_SPACE");
    }
}

TEST(CheckDamage, RowDamageIsReportedPerKind) {
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put16(d.row_at(p, 5), uint16_t(d.def("Table1").max_cols + 3));
        EXPECT_CODE(d.check(), "ROW_COLUMN_COUNT");
    }
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        const auto slot = d.data_page(p).slot(5);
        // The variable-entry count sits just before the one-byte null mask (3 columns).
        d.put16(d.page_at(p) + slot.end - 1 - 2, 0x0FFF);
        EXPECT_CODE(d.check(), "ROW_LAYOUT");
    }
    {
        Damage d(kManyRows);
        REQUIRE_DAMAGE(d);
        const auto& c = d.column("Table1", "RS_AGENTE");
        d.put16(d.tdef_at("Table1", c.descriptor_offset + d.layout().col_length), 2);
        EXPECT_CODE(d.check(), "ROW_VALUE_LENGTH");
    }
}

TEST(CheckDamage, OverflowPointerDamageIsReported) {
    {
        Damage d(kOverflow);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put32(d.row_at(p, 2), (1u << 8) | 0);  // to page 1, the global map
        EXPECT_CODE(d.check(), "ROW_OVERFLOW_TARGET");
    }
    {
        Damage d(kOverflow);
        REQUIRE_DAMAGE(d);
        const uint32_t p = d.data_pages("Table1").front();
        d.put32(d.row_at(p, 4), d.get32(d.row_at(p, 2)));
        EXPECT_CODE(d.check(), "ROW_OVERFLOW_SHARED");
    }
}

// ---------------------------------------------------------------- long values

struct LongValueCase {
    const char* file;
    const char* table;
    const char* column;  // holds a value stored in one LVAL row
};

class CheckLongValueDamage : public ::testing::TestWithParam<LongValueCase> {};

TEST_P(CheckLongValueDamage, IsReportedPerKind) {
    const LongValueCase& lvc = GetParam();
    const char* const table = lvc.table;
    const char* const memo = lvc.column;
    {
        Damage d(lvc.file);
        REQUIRE_DAMAGE(d);
        auto row = d.row_with(table, memo);
        ASSERT_TRUE(row);
        d.put8(row->field + 3, uint8_t(d.bytes()[row->field + 3] | 0xC0));
        EXPECT_CODE(d.check(), "LV_DEFINITION");
    }
    {
        Damage d(lvc.file);
        REQUIRE_DAMAGE(d);
        auto row = d.row_with(table, memo, 0x40000000);
        ASSERT_TRUE(row) << "a value stored in one LVAL row";
        d.put32(row->field + 4, 2u << 8);  // page 2 is a table definition
        EXPECT_CODE(d.check(), "LV_POINTER");
    }
    {
        Damage d(lvc.file);
        REQUIRE_DAMAGE(d);
        auto row = d.row_with(table, memo, 0x40000000);
        ASSERT_TRUE(row);
        d.put32(row->field, ((d.get32(row->field) & 0x3FFFFFFF) + 5000) | 0x40000000);
        EXPECT_CODE(d.check(), "LV_LENGTH");
    }
    {
        // Turn a one-row value into a chain whose row points back at itself.
        Damage d(lvc.file);
        REQUIRE_DAMAGE(d);
        auto row = d.row_with(table, memo, 0x40000000);
        ASSERT_TRUE(row);
        const uint32_t pointer = d.get32(row->field + 4);
        const jet::RowPointer lv = jet::RowPointer::from_u32(pointer);
        d.put32(row->field, 0x00100000);
        d.put32(d.row_at(lv.page, lv.row), pointer);
        EXPECT_CODE(d.check(), "LV_CHAIN_CYCLE");
    }
    {
        Damage d(lvc.file);
        REQUIRE_DAMAGE(d);
        auto row = d.row_with(table, memo, 0x40000000);
        ASSERT_TRUE(row);
        const auto& t = d.def(table);
        const uint16_t number = d.column(table, memo).number;
        uint32_t map = 0;
        for (const auto& lv : t.long_value_maps)
            if (lv.column_number == number) map = lv.owned_map;
        ASSERT_NE(map, 0u);
        d.set_map_bit(map, jet::RowPointer::from_u32(d.get32(row->field + 4)).page, false);
        EXPECT_CODE(d.check(), "LV_PAGE_UNMAPPED");
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, CheckLongValueDamage,
                         ::testing::Values(LongValueCase{kJet3, kProject, "PROJ_PROP_AUTHOR"},
                                           LongValueCase{kJet4, kProject, "PROJ_PROP_AUTHOR"},
                                           LongValueCase{kAutonumber, "Table1", "RichTextMemo"}));

}  // namespace
