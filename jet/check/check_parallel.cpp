#include <algorithm>
#include <atomic>

#include "jet/check/check_passes.h"
#include "jet/base/parallel.h"

namespace jet {

void TableJobs::run(Progress* progress) {
    std::stable_sort(jobs_.begin(), jobs_.end(), [](const auto& a, const auto& b) {
        return a.first->data_pages.size() > b.first->data_pages.size();
    });
    // A table's work is measured by its data pages (one more, so empty tables count too).
    std::uint64_t total = 0;
    for (const auto& job : jobs_) total += job.first->data_pages.size() + 1;
    if (progress) progress->step("Comprobando filas e índices", total);
    std::atomic<std::uint64_t> done{0};
    ThreadLock reporting;
    run_parallel(jobs_.size(), [&](size_t piece, unsigned) {
        jobs_[piece].second();
        const std::uint64_t now = done += jobs_[piece].first->data_pages.size() + 1;
        if (progress) {
            const LockHold hold(reporting);
            progress->advance(now);
        }
    });
    jobs_.clear();
}

}  // namespace jet
