#include "jet/check/check_memo.h"

#include <algorithm>

namespace jet {

bool CheckMemo::TableKey::same_table(const CheckedTable& t) const {
    return tdef_page == t.tdef_page && name == t.name && rows_readable == t.rows_readable &&
           data_pages == t.data_pages && lv_pages == t.lv_pages;
}

CheckMemo::TableKey memo_key(const CheckedTable& table, std::vector<uint32_t> read) {
    if (table.def) read.insert(read.end(), table.def->pages.begin(), table.def->pages.end());
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
    return {table.tdef_page, table.name, table.rows_readable, table.data_pages, table.lv_pages, std::move(read)};
}

void CheckMemo::record(TableIndexes table, uint32_t page_count) {
    page_count_ = page_count;
    indexes_.push_back(std::move(table));
}

void CheckMemo::record(TableRows table, uint32_t page_count) {
    page_count_ = page_count;
    rows_.push_back(std::move(table));
}

void CheckMemo::record(TableDefs table, uint32_t page_count) {
    page_count_ = page_count;
    defs_.push_back(std::move(table));
}

void CheckMemo::note_tables(const std::vector<CheckedTable>& tables) {
    tables_.clear();
    for (const CheckedTable& t : tables) tables_.emplace_back(t.tdef_page, t.name);
}

bool CheckMemo::same_tables(const std::vector<CheckedTable>& tables) const {
    if (tables.size() != tables_.size()) return false;
    for (size_t i = 0; i < tables.size(); ++i)
        if (tables[i].tdef_page != tables_[i].first || tables[i].name != tables_[i].second) return false;
    return true;
}

bool CheckMemo::pages_unchanged(const std::vector<uint32_t>& pages, uint32_t page_count) const {
    // Page 0 says how every page decodes (format, code page, sort order).
    if (!rechecking_ || written(0) || page_count != page_count_) return false;
    return std::none_of(pages.begin(), pages.end(), [&](uint32_t p) { return written(p); });
}

bool CheckMemo::unchanged(const TableKey& key, const CheckedTable& table, uint32_t page_count) const {
    return key.same_table(table) && pages_unchanged(key.pages, page_count);
}

const CheckMemo::TableDefs* CheckMemo::reusable_defs(const CheckedTable& table, uint32_t page_count) const {
    for (const TableDefs& t : defs_)
        if (t.key.tdef_page == table.tdef_page)
            return t.key.name == table.name && pages_unchanged(t.key.pages, page_count) ? &t : nullptr;
    return nullptr;
}

const CheckMemo::TableIndexes* CheckMemo::reusable_indexes(const CheckedTable& table, uint32_t page_count) const {
    for (const TableIndexes& t : indexes_)
        if (t.key.tdef_page == table.tdef_page) return unchanged(t.key, table, page_count) ? &t : nullptr;
    return nullptr;
}

const CheckMemo::TableRows* CheckMemo::reusable_rows(const CheckedTable& table, uint32_t page_count) const {
    for (const TableRows& t : rows_)
        if (t.key.tdef_page == table.tdef_page) return unchanged(t.key, table, page_count) ? &t : nullptr;
    return nullptr;
}

}  // namespace jet
