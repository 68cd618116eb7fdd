#pragma once
// What a repair's re-check may take over from the first check. Verifying a table's
// indexes reads every row and every index page of it and is most of what a check costs;
// its findings depend on nothing but the bytes of the pages it read. So the first check
// notes, per table, those pages and its findings, and the re-check of the working copy
// takes the findings over for every table none of whose pages a fix has written.
// Internal to the engine.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/check.h"
#include "jet/native_file.h"
#include "jet/problems.h"

namespace jet {

struct CheckedTable;

class CheckMemo {
public:
    struct TableIndexes {
        uint32_t tdef_page = 0;
        std::string name;
        bool rows_readable = false;
        std::vector<uint32_t> pages;  // every page read, the definition's chain included
        std::vector<std::pair<Problem, Finding>> findings;
    };

    bool recording() const { return !rechecking_; }
    void record(TableIndexes table, uint32_t page_count) {
        page_count_ = page_count;
        tables_.push_back(std::move(table));
    }

    // From now on the memo serves re-checks of a copy of the recorded file in which the
    // pages `written` marks may differ.
    void recheck_with(std::vector<bool> written) {
        rechecking_ = true;
        written_ = std::move(written);
    }
    // The recorded verdict for `table` when none of its pages was written and the file
    // kept its length (a map may name pages that were past the end); else nullptr.
    const TableIndexes* reusable(const CheckedTable& table, uint32_t page_count) const;

private:
    bool written(uint32_t page) const { return page < written_.size() && written_[page]; }

    bool rechecking_ = false;
    uint32_t page_count_ = 0;
    std::vector<bool> written_;
    std::vector<TableIndexes> tables_;
};

// check_open_file() that records into `memo` on its first use and takes over from it
// after recheck_with().
Report check_open_file(const NativeFile& file, CheckMemo& memo);

}  // namespace jet
