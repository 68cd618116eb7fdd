// run_parallel: every piece exactly once, on a thread it names, and a piece's failure
// reaches the caller only after the other pieces are done.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "jet/base/parallel.h"

namespace {

TEST(RunParallel, EveryPieceRunsOnceOnANamedThread) {
    for (size_t pieces : {0u, 1u, 2u, 7u, 100u}) {
        std::vector<std::atomic<int>> runs(pieces);
        std::atomic<bool> thread_in_range{true};
        const unsigned threads = jet::parallel_threads(pieces);
        jet::run_parallel(pieces, [&](size_t piece, unsigned thread) {
            runs[piece].fetch_add(1);
            if (thread >= threads) thread_in_range = false;
        });
        for (size_t i = 0; i < pieces; ++i) EXPECT_EQ(runs[i].load(), 1) << pieces << " pieces, piece " << i;
        EXPECT_TRUE(thread_in_range);
        EXPECT_GE(threads, 1u);
        EXPECT_LE(threads, std::max<size_t>(pieces, 1));
    }
}

TEST(RunParallel, AFailureIsRethrownAfterTheOtherPieces) {
    std::atomic<int> done{0};
    EXPECT_THROW(jet::run_parallel(50,
                                   [&](size_t piece, unsigned) {
                                       if (piece == 3) throw std::runtime_error("piece 3");
                                       done.fetch_add(1);
                                   }),
                 std::runtime_error);
    EXPECT_EQ(done.load(), 49);
}

}  // namespace
