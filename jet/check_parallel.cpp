#include <algorithm>

#include "jet/check_passes.h"
#include "jet/parallel.h"

namespace jet {

void for_each_table(const std::vector<const CheckedTable*>& tables, const std::function<void(size_t i)>& work) {
    std::vector<size_t> order(tables.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return tables[a]->data_pages.size() > tables[b]->data_pages.size();
    });
    run_parallel(order.size(), [&](size_t piece, unsigned) { work(order[piece]); });
}

}  // namespace jet
