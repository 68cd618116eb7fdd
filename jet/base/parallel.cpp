#include "jet/base/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <vector>

#ifdef JET_HAS_THREADS
#include <thread>
#endif

namespace jet {

namespace {
constexpr unsigned kMaxThreads = 8;
}

unsigned parallel_threads(std::size_t pieces) {
#ifdef JET_HAS_THREADS
    // Asked once: the library reads it from the system on every call.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>({pieces, cores, kMaxThreads})));
#else
    (void)pieces;
    return 1;
#endif
}

void run_parallel(std::size_t pieces, const std::function<void(std::size_t, unsigned)>& work) {
    const unsigned threads = parallel_threads(pieces);
    if (threads <= 1) {
        for (std::size_t i = 0; i < pieces; ++i) work(i, 0);
        return;
    }
#ifdef JET_HAS_THREADS
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failure_lock;
    auto drain = [&](unsigned thread) {
        for (std::size_t i; (i = next.fetch_add(1)) < pieces;) {
            try {
                work(i, thread);
            } catch (...) {
                std::lock_guard<std::mutex> hold(failure_lock);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(drain, t);
    drain(0);
    for (std::thread& h : helpers) h.join();
    if (failure) std::rethrow_exception(failure);
#endif
}

}  // namespace jet
