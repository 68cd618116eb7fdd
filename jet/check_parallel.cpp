#include <algorithm>
#include <memory>

#include "jet/check_passes.h"
#include "jet/parallel.h"

namespace jet {

void for_each_table(CheckContext& ctx, const std::vector<const CheckedTable*>& tables,
                    const std::function<void(Database& db, size_t i)>& work) {
    std::vector<size_t> order(tables.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return tables[a]->data_pages.size() > tables[b]->data_pages.size();
    });
    std::vector<std::unique_ptr<Database>> readers(parallel_threads(tables.size()));
    try {
        for (size_t i = 1; i < readers.size(); ++i) readers[i] = ctx.db.reader();
    } catch (const EngineError&) {
        readers.resize(1);  // the file cannot be opened twice: one thread then
    }
    if (readers.size() == 1) {
        for (size_t i : order) work(ctx.db, i);
        return;
    }
    run_parallel(order.size(), [&](size_t piece, unsigned thread) {
        work(thread == 0 ? ctx.db : *readers[thread], order[piece]);
    });
}

}  // namespace jet
