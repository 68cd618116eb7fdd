#pragma once
// Independent pieces of work spread over the machine's cores. Where the standard library
// offers no threads (mingw's win32 thread model) the pieces run one after another on the
// calling thread; results must not depend on which.
#include <cstddef>
#include <functional>

#if defined(_GLIBCXX_HAS_GTHREADS) || defined(_MSC_VER) || defined(_LIBCPP_VERSION)
#include <mutex>
#define JET_HAS_THREADS 1
#endif

namespace jet {

// A mutex where there are threads; where there are none, nothing to guard against.
#ifdef JET_HAS_THREADS
using ThreadLock = std::mutex;
#else
struct ThreadLock {
    void lock() {}
    void unlock() {}
};
#endif

// Holds a ThreadLock for a scope (std::lock_guard is missing where there are no threads).
class LockHold {
public:
    explicit LockHold(ThreadLock& lock) : lock_(lock) { lock_.lock(); }
    ~LockHold() { lock_.unlock(); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    ThreadLock& lock_;
};

// How many threads run_parallel would use for `pieces` pieces (at least 1).
unsigned parallel_threads(std::size_t pieces);

// Calls work(piece, thread) for every piece in [0, pieces), in increasing piece order per
// thread; `thread` in [0, parallel_threads(pieces)) tells which thread runs it (for state
// kept per thread). Returns when all are done; the first exception a piece throws is
// rethrown here after the others finish.
void run_parallel(std::size_t pieces, const std::function<void(std::size_t piece, unsigned thread)>& work);

}  // namespace jet
