#include "jet/check/unlisted_pages.h"

#include "jet/format/data_page.h"
#include "jet/index/index.h"
#include "jet/format/table_pages.h"

namespace jet {

uint32_t live_rows_on(const PageFile& file, const Layout& layout, const std::vector<uint32_t>& pages) {
    uint32_t rows = 0;
    for (uint32_t p : pages) {
        const PageRef bytes = file.fetch(p);
        const DataPage page(bytes, layout);
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot slot = page.slot(i);
            if (!slot.deleted() && slot.bounds_ok) ++rows;
        }
    }
    return rows;
}

const UnlistedPageJudge::Evidence& UnlistedPageJudge::evidence(const TableDef& table) {
    if (auto it = by_table_.find(table.page); it != by_table_.end()) return it->second;
    Evidence e;
    const auto listed = mapped_data_pages(file_, layout_, table);
    e.count_short = !listed || table.num_rows > live_rows_on(file_, layout_, *listed);
    if (!e.count_short) {
        for (const RealIndex& index : table.real_indexes) {
            if (index.root_page == 0) continue;
            const IndexTree tree = read_index_tree(file_, layout_, index.root_page, table.page, index.entry_count);
            for (size_t i = 0; i < tree.entries.size(); ++i) e.indexed_pages.insert(tree.entries.row(i).page);
        }
    }
    return by_table_.emplace(table.page, std::move(e)).first->second;
}

bool UnlistedPageJudge::rows_missing(const TableDef& table, uint32_t page) {
    const Evidence& e = evidence(table);
    return e.count_short || e.indexed_pages.count(page) > 0;
}

}  // namespace jet
