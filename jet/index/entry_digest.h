#pragma once
// An order-free digest of a multiset of (row, key) pairs. An index whose entries digest
// to the same value as the keys of its table's rows holds exactly one entry per row with
// that row's key: the check then needs neither the rows' keys nor a join, only one walk of
// the leaves and one scan of the rows, in memory that does not grow with the table. Any
// other outcome is settled by the exact comparison (jet/index/index_check.h).
//
// Two sums of 64-bit hashes with unrelated multipliers: two different multisets share a
// digest by chance about once in 2^128.
#include <cstdint>
#include <span>

#include "jet/base/bytes.h"

namespace jet {

class EntryDigest {
public:
    void add(RowPointer row, std::span<const uint8_t> key) {
        ++count_;
        const uint64_t pointer = (uint64_t{row.page} << 8) | row.row;
        sum_a_ += hash(pointer, key, 0x9E3779B97F4A7C15ull, 0xFF51AFD7ED558CCDull);
        sum_b_ += hash(pointer, key, 0xC2B2AE3D27D4EB4Full, 0xC4CEB9FE1A85EC53ull);
    }
    friend bool operator==(const EntryDigest&, const EntryDigest&) = default;

private:
    static uint64_t mix(uint64_t h, uint64_t multiplier) {
        h ^= h >> 32;
        h *= multiplier;
        h ^= h >> 29;
        return h;
    }
    static uint64_t hash(uint64_t pointer, std::span<const uint8_t> key, uint64_t seed, uint64_t multiplier) {
        uint64_t h = mix(seed ^ pointer ^ (uint64_t{key.size()} << 40), multiplier);
        size_t i = 0;
        for (; i + 8 <= key.size(); i += 8) {
            uint64_t word = 0;
            for (size_t b = 0; b < 8; ++b) word |= uint64_t{key[i + b]} << (8 * b);
            h = mix(h ^ word, multiplier) + seed;
        }
        uint64_t tail = 0;
        for (size_t b = 0; i + b < key.size(); ++b) tail |= uint64_t{key[i + b]} << (8 * b);
        return mix(mix(h ^ tail, multiplier) ^ seed, multiplier);
    }

    uint64_t count_ = 0;
    uint64_t sum_a_ = 0;
    uint64_t sum_b_ = 0;
};

}  // namespace jet
