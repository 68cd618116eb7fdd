#pragma once
// Short byte runs: compared eight bytes at a time (page prefixes and leaf packing compare
// many keys against one; a page write looks for the span it changes) and copied without a
// call to memcpy.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jet {

// Leading bytes `a` and `b` share, of the first `n`.
inline size_t common_length(const uint8_t* a, const uint8_t* b, size_t n) {
    auto first_difference = [](auto x) {
        return size_t(std::endian::native == std::endian::little ? std::countr_zero(x) : std::countl_zero(x)) / 8;
    };
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return i + first_difference(x ^ y);
    }
    if (i + 4 <= n) {
        uint32_t x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        if (x != y) return i + first_difference(x ^ y);
        i += 4;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Trailing bytes `a` and `b` share, of the first `n`.
inline size_t common_tail_length(const uint8_t* a, const uint8_t* b, size_t n) {
    auto last_difference = [](uint64_t x) {
        return size_t(std::endian::native == std::endian::little ? std::countl_zero(x) : std::countr_zero(x)) / 8;
    };
    size_t i = 0;  // bytes shared so far, counted from the end
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + n - i - 8, 8);
        std::memcpy(&y, b + n - i - 8, 8);
        if (x != y) return i + last_difference(x ^ y);
    }
    while (i < n && a[n - i - 1] == b[n - i - 1]) ++i;
    return i;
}

// Copies n bytes with fixed-size moves (overlapping when n is not their size): keys are
// short, and nothing past n is touched.
inline void copy_short(uint8_t* to, const uint8_t* from, size_t n) {
    if (n >= 8 && n <= 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) to[i] = from[i];
    } else {
        std::memcpy(to, from, n);
    }
}

}  // namespace jet
