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
    std::uint64_t reported = 0;
    run_parallel(jobs_.size(), [&](size_t piece, unsigned) {
        jobs_[piece].second();
        done += jobs_[piece].first->data_pages.size() + 1;
        if (progress) {
            // Read under the lock: a count taken before it could reach the receiver after a
            // larger one, and the bar would go back.
            const LockHold hold(reporting);
            const std::uint64_t now = done.load();
            if (now > reported) progress->advance(reported = now);
        }
    });
    jobs_.clear();
}

}  // namespace jet
