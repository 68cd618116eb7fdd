#include <algorithm>

#include "jet/check_passes.h"
#include "jet/parallel.h"

namespace jet {

void TableJobs::run() {
    std::stable_sort(jobs_.begin(), jobs_.end(), [](const auto& a, const auto& b) {
        return a.first->data_pages.size() > b.first->data_pages.size();
    });
    run_parallel(jobs_.size(), [&](size_t piece, unsigned) { jobs_[piece].second(); });
    jobs_.clear();
}

}  // namespace jet
