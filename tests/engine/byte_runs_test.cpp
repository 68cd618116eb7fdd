// The word-at-a-time comparisons against a byte loop: every length up to a few words, and
// every position of a single differing byte (and none).
#include <gtest/gtest.h>

#include <vector>

#include "jet/base/byte_runs.h"

namespace {

TEST(ByteRuns, SharedHeadAndTailMatchAByteLoop) {
    for (size_t n = 0; n <= 40; ++n) {
        for (size_t differs = 0; differs <= n; ++differs) {  // n: no byte differs
            std::vector<uint8_t> a(n), b;
            for (size_t i = 0; i < n; ++i) a[i] = static_cast<uint8_t>(i * 37 + 11);
            b = a;
            if (differs < n) b[differs] ^= 0x40;
            const size_t head = differs;
            const size_t tail = differs < n ? n - differs - 1 : n;
            EXPECT_EQ(jet::common_length(a.data(), b.data(), n), head) << n << " " << differs;
            EXPECT_EQ(jet::common_tail_length(a.data(), b.data(), n), tail) << n << " " << differs;
        }
    }
}

}  // namespace
