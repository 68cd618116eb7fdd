#pragma once
// Data pages whose owner field names a table that its page map no longer lists. Access
// releases pages that way and leaves their rows behind (healthy files hold such pages,
// often with an older copy of the table's rows), so an unlisted page is taken back into
// its table only on evidence that the table is missing its rows: the stored row count is
// higher than the rows on the listed pages, or an index of the table points into the page.
// Without that evidence the page is a leak, and adopting it would bring back old rows.
#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "jet/file/page_file.h"
#include "jet/format/table_def.h"

namespace jet {

// Live rows (not deleted, offsets in bounds) on the given data pages, as the check counts them.
uint32_t live_rows_on(const PageFile& file, const Layout& layout, const std::vector<uint32_t>& pages);

class UnlistedPageJudge {
public:
    UnlistedPageJudge(const PageFile& file, const Layout& layout) : file_(file), layout_(layout) {}
    // True when `page`, an unlisted data page of `table` with live rows, holds rows the
    // table is missing. A table whose map cannot be read gives no evidence against it.
    bool rows_missing(const TableDef& table, uint32_t page);

private:
    struct Evidence {
        bool count_short = false;          // stored count above the rows on listed pages
        std::set<uint32_t> indexed_pages;  // pages the table's index entries point into
    };
    const Evidence& evidence(const TableDef& table);

    const PageFile& file_;
    const Layout& layout_;
    std::map<uint32_t, Evidence> by_table_;
};

}  // namespace jet
