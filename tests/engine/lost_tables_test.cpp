// The pieces behind tables found again: the search for definitions no catalog row names
// (never fires on an intact file), the row encoder (rebuilds Access's own rows byte for
// byte) and row insertion into a data page.
#include <gtest/gtest.h>

#include <set>

#include "corpus.h"
#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_insert.h"
#include "jet/format/database.h"
#include "jet/format/fix_data_page.h"
#include "jet/check/lost_tables.h"
#include "jet/format/row.h"
#include "jet/format/row_encode.h"

namespace {

std::vector<std::filesystem::path> readable_files() {
    std::vector<std::filesystem::path> out;
    for (const auto& path : test::corpus_files()) {
        try {
            jet::Database db(path);
            out.push_back(path);
        } catch (const jet::EngineError&) {
            // encrypted: not examined
        }
    }
    return out;
}

}  // namespace

// Every in-use first page of a definition chain in an intact file is named by a catalog
// row, so the search has nothing to find.
TEST(LostTables, NoneInIntactCorpusFiles) {
    const auto files = readable_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent";
    std::size_t definitions = 0;
    for (const auto& path : files) {
        jet::Database db(path);
        EXPECT_TRUE(jet::find_lost_tables(db).empty()) << path;
        const auto& free = db.free_pages();
        ASSERT_TRUE(free.has_value()) << path;
        std::set<uint32_t> named{jet::kCatalogPage}, continued;
        for (const jet::CatalogEntry& e : db.catalog().entries) named.insert(e.tdef_page());
        for (uint32_t p = 3; p < db.file().page_count(); ++p) {
            const jet::PageRef page = db.file().fetch(p);
            if (page[0] == jet::page_type::table_def && page[1] == 0x01 && jet::u32_at(page, 4) != 0)
                continued.insert(jet::u32_at(page, 4));
        }
        for (uint32_t p = 3; p < db.file().page_count(); ++p) {
            const jet::PageRef page = db.file().fetch(p);
            if (page[0] != jet::page_type::table_def || page[1] != 0x01 || (*free)[p] || continued.count(p)) continue;
            ++definitions;
            EXPECT_TRUE(named.count(p)) << path << ": definition at page " << p << " is named by no catalog row";
        }
    }
    EXPECT_GT(definitions, 500u);
}

// Cracking a row and encoding its fields again gives back the very bytes Access wrote,
// in Jet 3 (one-byte offsets, jump tables), Jet 4 and ACE, for every catalog row and for
// user rows written with the table's current columns.
TEST(RowEncode, RebuildsAccessRowsByteForByte) {
    const auto files = readable_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent";
    std::size_t compared = 0, jet3 = 0, long_jet3 = 0;
    for (const auto& path : files) {
        jet::Database db(path);
        std::vector<std::pair<std::string, uint32_t>> tables{{"MSysObjects", jet::kCatalogPage}};
        for (const jet::CatalogEntry& e : db.user_tables())
            if (!e.linked()) tables.emplace_back(e.name, e.tdef_page());
        for (const auto& [name, page] : tables) {
            const jet::TableDefResult& read = db.table_def(page);
            if (!read.table || !read.table->complete) continue;
            const jet::TableDef& def = *read.table;
            jet::Faults faults;
            db.scan_stored_rows(def, name, [&](const jet::RowLocation& at, jet::Bytes row) {
                const jet::CrackedRow cracked = jet::crack_row(def, db.layout(), row);
                // Rows written before a column was added or with padding are not what a
                // fresh row looks like.
                if (!cracked.usable || cracked.stored_columns != def.max_cols || cracked.var_count != def.num_var_cols)
                    return;
                std::vector<jet::FieldValue> fields(def.columns.size());
                for (size_t k = 0; k < fields.size(); ++k) {
                    fields[k].present = def.columns[k].type == jet::data_type::boolean ? cracked.fields[k].bit
                                                                                       : cracked.fields[k].present;
                    fields[k].bytes.assign(cracked.fields[k].bytes.begin(), cracked.fields[k].bytes.end());
                }
                const auto encoded = jet::encode_row(def, db.layout(), fields);
                ASSERT_TRUE(encoded.has_value()) << path << " " << name << " page " << at.page << " row " << at.row;
                if (std::vector<uint8_t>(row.begin(), row.end()) != *encoded) {
                    // Every catalog row comes back exactly. A user table's row may keep room
                    // for columns deleted since, or leftovers of a longer version of itself:
                    // then what a reader sees must be the same, in no more bytes.
                    EXPECT_NE(page, jet::kCatalogPage) << path << " page " << at.page << " row " << at.row;
                    const jet::CrackedRow again = jet::crack_row(def, db.layout(), *encoded);
                    ASSERT_TRUE(again.usable && again.faults.empty()) << path << " " << name;
                    for (size_t k = 0; k < fields.size(); ++k) {
                        EXPECT_EQ(again.fields[k].present, cracked.fields[k].present) << path << " " << name;
                        if (cracked.fields[k].present)
                            EXPECT_TRUE(std::equal(again.fields[k].bytes.begin(), again.fields[k].bytes.end(),
                                                   cracked.fields[k].bytes.begin(), cracked.fields[k].bytes.end()))
                                << path << " " << name << " column " << def.columns[k].name;
                    }
                    EXPECT_LE(encoded->size(), row.size()) << path << " " << name << " page " << at.page << " row " << at.row;
                }
                ++compared;
                if (db.layout().jet3) {
                    ++jet3;
                    if (row.size() > 256) ++long_jet3;
                }
            }, faults);
        }
    }
    EXPECT_GT(compared, 1000u);
    EXPECT_GT(jet3, 100u);
    EXPECT_GT(long_jet3, 0u) << "no Jet 3 row long enough for a jump table was tried";
}

TEST(RowEncode, RefusesFieldsThatDoNotFitTheTable) {
    jet::TableDef def;
    def.max_cols = 2;
    def.num_var_cols = 1;
    jet::Column id;
    id.name = "Id";
    id.type = jet::data_type::long_integer;
    id.flags = jet::column_flag::fixed;
    id.number = 0;
    jet::Column text;
    text.name = "Name";
    text.type = jet::data_type::text;
    text.number = 1;
    def.columns = {id, text};
    std::vector<jet::FieldValue> fields(2);
    fields[0] = {true, {1, 2, 3}};  // a long needs 4 bytes
    EXPECT_FALSE(jet::encode_row(def, jet::kJet4Layout, fields).has_value());
    fields[0] = {true, {1, 2, 3, 4}};
    fields[1] = {true, {'a', 0}};
    ASSERT_TRUE(jet::encode_row(def, jet::kJet4Layout, fields).has_value());
    def.columns[1].var_index = 1;  // past num_var_cols
    EXPECT_FALSE(jet::encode_row(def, jet::kJet4Layout, fields).has_value());
    EXPECT_FALSE(jet::encode_row(def, jet::kJet4Layout, {fields[0]}).has_value());
}

// Rows added until the page is full stay readable, the free space stays exact, and the
// page is left untouched once nothing more fits.
TEST(AddRowToPage, FillsAPageAndKeepsItValid) {
    for (const jet::Layout* layout : {&jet::kJet3Layout, &jet::kJet4Layout}) {
        std::vector<uint8_t> page = jet::empty_data_page(*layout, 42);
        std::vector<std::vector<uint8_t>> rows;
        for (uint8_t n = 1;; ++n) {
            std::vector<uint8_t> row(20 + n % 7, n);
            const std::vector<uint8_t> before = page;
            const auto slot = jet::add_row_to_page(page, *layout, row);
            if (!slot) {
                EXPECT_EQ(page, before);
                break;
            }
            EXPECT_EQ(*slot, rows.size());
            rows.push_back(row);
        }
        const jet::DataPage view(page, *layout);
        EXPECT_TRUE(jet::validate_data_page(view, 7).empty());
        ASSERT_EQ(view.row_count(), rows.size());
        for (uint16_t i = 0; i < rows.size(); ++i) {
            const jet::Bytes row = view.row(i);
            EXPECT_EQ(std::vector<uint8_t>(row.begin(), row.end()), rows[i]);
        }
        EXPECT_LT(view.free_space(), 2 + 27u) << "the page was not filled";
    }
}

TEST(AddRowToPage, RefusesAPageWhoseSlotsAreOutOfBounds) {
    std::vector<uint8_t> page = jet::empty_data_page(jet::kJet4Layout, 42);
    const std::vector<uint8_t> row(10, 1);
    ASSERT_TRUE(jet::add_row_to_page(page, jet::kJet4Layout, row));
    page[jet::kJet4Layout.data_header_size] = 0x02;  // slot 0 now starts inside the header
    page[jet::kJet4Layout.data_header_size + 1] = 0x00;
    const std::vector<uint8_t> before = page;
    EXPECT_FALSE(jet::add_row_to_page(page, jet::kJet4Layout, row));
    EXPECT_EQ(page, before);
}
