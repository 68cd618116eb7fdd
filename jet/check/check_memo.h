#pragma once
// What a repair's re-check may take over from the first check. Walking a table's rows
// and verifying its indexes read every page of it and are most of what a check costs;
// what they find depends on nothing but the bytes of the pages they read. So the first
// check notes, per table and pass, those pages and what the pass found, and the re-check
// of the working copy takes that over for every table none of whose pages a fix wrote.
// Internal to the engine.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jet/check/check.h"
#include "jet/check/check_passes.h"
#include "jet/file/native_file.h"
#include "jet/check/problems.h"

namespace jet {

// What the row pass found in one table, in the order it found it.
struct RowsVerdict {
    std::vector<CheckEvent> events;
    uint64_t live_rows = 0;
    bool has_autonumber = false;
    int64_t max_autonumber = 0;
};

class CheckMemo {
public:
    // The inputs a pass over one table had besides page bytes, and the pages it read.
    struct TableKey {
        uint32_t tdef_page = 0;
        std::string name;
        bool rows_readable = false;
        std::vector<uint32_t> data_pages;
        std::map<uint16_t, std::vector<uint32_t>> lv_pages;
        std::vector<uint32_t> pages;  // sorted, the definition's chain included

        bool same_table(const CheckedTable& t) const;
    };
    struct TableIndexes {
        TableKey key;
        std::vector<std::pair<Problem, Finding>> findings;
    };
    struct TableRows {
        TableKey key;
        RowsVerdict verdict;
    };
    // The definition pass over one table: its steps and what it left in the CheckedTable
    // besides the pages its claims give it (key.data_pages stays empty).
    struct TableDefs {
        TableKey key;
        std::vector<CheckEvent> events;
        bool owned_map_ok = false;
    };

    bool recording() const { return !rechecking_; }
    void record(TableIndexes table, uint32_t page_count);
    void record(TableRows table, uint32_t page_count);
    void record(TableDefs table, uint32_t page_count);
    // The tables the catalog named, by definition page and name: findings of the definition
    // pass name other tables, so its steps are taken over only while these stay the same.
    void note_tables(const std::vector<CheckedTable>& tables);
    bool same_tables(const std::vector<CheckedTable>& tables) const;

    // From now on the memo serves re-checks of a copy of the recorded file in which the
    // pages `written` marks may differ.
    void recheck_with(std::vector<bool> written) {
        rechecking_ = true;
        written_ = std::move(written);
    }
    // What a pass found in `table` when none of its pages was written and the file kept
    // its length (a map may name pages that were past the end); else nullptr.
    const TableIndexes* reusable_indexes(const CheckedTable& table, uint32_t page_count) const;
    const TableRows* reusable_rows(const CheckedTable& table, uint32_t page_count) const;
    // Before the definition pass: the table's definition is not read yet.
    const TableDefs* reusable_defs(const CheckedTable& table, uint32_t page_count) const;

private:
    bool written(uint32_t page) const { return page < written_.size() && written_[page]; }
    bool unchanged(const TableKey& key, const CheckedTable& table, uint32_t page_count) const;
    bool pages_unchanged(const std::vector<uint32_t>& pages, uint32_t page_count) const;

    bool rechecking_ = false;
    uint32_t page_count_ = 0;
    std::vector<bool> written_;
    std::vector<TableIndexes> indexes_;
    std::vector<TableRows> rows_;
    std::vector<TableDefs> defs_;
    std::vector<std::pair<uint32_t, std::string>> tables_;
};

// The key of `table` with the pages in `read` (sorted and deduplicated here).
CheckMemo::TableKey memo_key(const CheckedTable& table, std::vector<uint32_t> read);

// check_open_file() that records into `memo` on its first use and takes over from it
// after recheck_with().
Report check_open_file(const NativeFile& file, CheckMemo& memo, Progress* progress = nullptr);

}  // namespace jet
