#pragma once
// Finds, in a private copy of a corpus file, the bytes a damage test wants to change:
// fields of a table definition, slots and rows of data pages, fields inside rows, bits of
// usage maps. Uses the reader to locate; the test then patches DamagedCopy::bytes().
#include <optional>

#include "jet/engine.h"
#include "check_support.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/format/long_value.h"
#include "jet/format/row.h"
#include "jet/format/usage_map.h"

namespace test {

class Damage {
public:
    explicit Damage(const std::string& relative) : copy_(relative) {
        if (!copy_.available()) return;
        copy_.save();
        db_.emplace(copy_.path());
    }
    bool available() const { return db_.has_value(); }
    std::vector<uint8_t>& bytes() { return copy_.bytes(); }
    jet::Database& db() { return *db_; }
    const jet::Layout& layout() { return db_->layout(); }
    uint32_t page_size() { return layout().page_size; }

    jet::Report check() { return jet::check_database(copy_.save()); }
    // The file check() last wrote (a repair may then change it in place).
    const std::filesystem::path& check_path() const { return copy_.path(); }

    // ---- little-endian patches at absolute file offsets
    void put8(size_t at, uint8_t v) { bytes().at(at) = v; }
    void put16(size_t at, uint16_t v) {
        put8(at, uint8_t(v));
        put8(at + 1, uint8_t(v >> 8));
    }
    void put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) put8(at + size_t(i), uint8_t(v >> (8 * i)));
    }
    uint16_t get16(size_t at) { return uint16_t(bytes().at(at) | (bytes().at(at + 1) << 8)); }
    uint32_t get32(size_t at) { return uint32_t(get16(at)) | (uint32_t(get16(at + 2)) << 16); }
    size_t page_at(uint32_t page) { return size_t(page) * page_size(); }

    // ---- tables
    uint32_t tdef_page(const std::string& table) {
        if (table == "MSysObjects") return 2;
        for (const auto& e : db_->catalog().entries)
            if (e.type == 1 && e.name == table) return e.tdef_page();
        ADD_FAILURE() << "no table " << table;
        return 0;
    }
    const jet::TableDef& def(const std::string& table) { return *db_->table_def(tdef_page(table)).table; }
    const jet::Column& column(const std::string& table, const std::string& name) {
        for (const auto& c : def(table).columns)
            if (c.name == name) return c;
        ADD_FAILURE() << "no column " << name;
        return def(table).columns.front();
    }
    // File offset of a byte of the logical TDEF buffer (continuation pages skip 8 bytes).
    size_t tdef_at(const std::string& table, size_t logical) {
        const jet::TableDef& d = def(table);
        if (logical < page_size()) return page_at(d.pages[0]) + logical;
        const size_t rest = logical - page_size(), per = page_size() - 8;
        return page_at(d.pages.at(1 + rest / per)) + 8 + rest % per;
    }
    // Offset in the logical buffer of real-index block i: found after the column names.
    size_t real_index_block(const std::string& table, size_t i) {
        const jet::TableDef& d = def(table);
        size_t at = layout().tdef_variable_start + d.num_real_idx * layout().real_index_count_entry_size +
                    d.columns.size() * layout().column_size;
        for (size_t k = 0; k < d.columns.size(); ++k) {
            const size_t len = layout().name_length_size == 1 ? d.buffer[at] : (d.buffer[at] | (d.buffer[at + 1] << 8));
            at += layout().name_length_size + len;
        }
        return at + i * layout().real_index_size;
    }
    size_t logical_index_block(const std::string& table, size_t i) {
        return real_index_block(table, def(table).num_real_idx) + i * layout().logical_index_size;
    }

    // ---- data pages and rows
    std::vector<uint32_t> data_pages(const std::string& table) {
        jet::Faults ignored;
        return db_->data_pages(def(table), table, ignored);
    }
    jet::DataPage data_page(uint32_t page) { return jet::DataPage(db_->file().page(page), layout()); }
    size_t slot_at(uint32_t page, uint16_t slot) { return page_at(page) + layout().data_header_size + 2 * slot; }
    // File offset of the first byte of a row.
    size_t row_at(uint32_t page, uint16_t slot) { return page_at(page) + data_page(page).slot(slot).start; }
    // File offset of a column's stored bytes in a row, or nullopt when it is not stored.
    std::optional<size_t> field_at(const std::string& table, uint32_t page, uint16_t slot, const std::string& col) {
        const jet::TableDef& d = def(table);
        jet::DataPage dp = data_page(page);
        jet::Bytes row = dp.row(slot);
        jet::CrackedRow cracked = jet::crack_row(d, layout(), row);
        for (size_t k = 0; k < d.columns.size(); ++k)
            if (d.columns[k].name == col && cracked.fields[k].present && !cracked.fields[k].bytes.empty())
                return page_at(page) + size_t(cracked.fields[k].bytes.data() - dp.bytes().data());
        return std::nullopt;
    }
    // The first live, non-overflow row of a table holding a stored value in `col`.
    struct RowRef {
        uint32_t page = 0;
        uint16_t slot = 0;
        size_t field = 0;
    };
    std::optional<RowRef> row_with(const std::string& table, const std::string& col,
                                   uint32_t lv_kind = 0xFFFFFFFF) {
        for (uint32_t p : data_pages(table)) {
            jet::DataPage dp = data_page(p);
            for (uint16_t i = 0; i < dp.row_count(); ++i) {
                if (dp.slot(i).raw & 0xC000) continue;
                auto at = field_at(table, p, i, col);
                if (!at) continue;
                if (lv_kind != 0xFFFFFFFF && (get32(*at) & 0xC0000000) != lv_kind) continue;
                return RowRef{p, i, *at};
            }
        }
        return std::nullopt;
    }

    // ---- usage maps (inline)
    // File offset of the map row a stored row pointer names.
    size_t map_row_at(uint32_t pointer) {
        const jet::RowPointer rp = jet::RowPointer::from_u32(pointer);
        return row_at(rp.page, rp.row);
    }
    void set_map_bit(uint32_t pointer, uint32_t page, bool on) {
        const size_t row = map_row_at(pointer);
        EXPECT_EQ(bytes()[row], 0) << "inline map expected";
        const uint32_t start = get32(row + 1);
        const size_t byte = row + 5 + (page - start) / 8;
        const uint8_t bit = uint8_t(1u << ((page - start) % 8));
        bytes()[byte] = on ? uint8_t(bytes()[byte] | bit) : uint8_t(bytes()[byte] & ~bit);
    }
    static constexpr uint32_t kGlobalMap = 1u << 8;  // page 1, row 0
    // A page the global map marks free, with a type the test may overwrite.
    uint32_t a_free_page() {
        jet::UsageMap map = jet::read_usage_map(db_->file(), layout(), kGlobalMap);
        for (uint32_t p : map.pages)
            if (p > 2) return p;
        ADD_FAILURE() << "no free page";
        return 0;
    }

private:
    DamagedCopy copy_;
    std::optional<jet::Database> db_;
};

#define REQUIRE_DAMAGE(d) \
    if (!(d).available()) GTEST_SKIP() << "corpus file absent under " << test::corpus_dir()

}  // namespace test
