// KeyBytes keeps short keys inside the entry and long ones on the heap; copies, moves and
// reassignments across that boundary keep the bytes.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "jet/index/key_bytes.h"

namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

TEST(KeyBytes, ShortAndLongKeysSurviveCopyMoveAndReassignment) {
    for (size_t n : {0u, 1u, 39u, 40u, 41u, 300u}) {
        const std::vector<uint8_t> want = bytes(n, static_cast<uint8_t>(n));
        jet::KeyBytes key(want);
        EXPECT_TRUE(key == want) << n;
        jet::KeyBytes copy = key;
        EXPECT_TRUE(copy == key) << n;
        jet::KeyBytes moved = std::move(copy);
        EXPECT_TRUE(moved == want) << n;
        EXPECT_TRUE(copy.empty()) << n;
        for (size_t m : {0u, 40u, 41u, 500u}) {  // into the other storage and back
            const std::vector<uint8_t> other = bytes(m, 3);
            moved.assign(other.begin(), other.end());
            EXPECT_TRUE(moved == other) << n << " -> " << m;
            moved = key;
            EXPECT_TRUE(moved == want) << m << " -> " << n;
        }
        EXPECT_EQ(std::vector<uint8_t>(key), want);
    }
}

}  // namespace
