#include "jet/check_memo.h"

#include "jet/check_passes.h"

namespace jet {

const CheckMemo::TableIndexes* CheckMemo::reusable(const CheckedTable& table, uint32_t page_count) const {
    // Page 0 says how every page decodes (format, code page, sort order).
    if (!rechecking_ || written(0) || page_count != page_count_) return nullptr;
    for (const TableIndexes& t : tables_) {
        if (t.tdef_page != table.tdef_page || t.name != table.name || t.rows_readable != table.rows_readable)
            continue;
        for (uint32_t p : t.pages)
            if (written(p)) return nullptr;
        return &t;
    }
    return nullptr;
}

}  // namespace jet
