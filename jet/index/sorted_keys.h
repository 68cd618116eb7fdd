#pragma once
// The keys of one index gathered from a table scan and put in entry order (key bytes,
// then row page, then row) without moving key bytes around: every key is appended to
// one buffer and only small references are sorted, compared first by their leading
// eight bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/index/index_page.h"

namespace jet {

class SortedKeys {
public:
    // `all_null`: the row's key columns are all NULL (such keys never make a unique one repeat).
    void add(std::span<const uint8_t> key, RowPointer row, bool all_null = false);
    // Entry order; equal keys of different rows stay apart (they differ in their row).
    void sort();
    void clear();

    size_t size() const { return refs_.size(); }
    std::span<const uint8_t> key(size_t i) const { return {bytes_.data() + refs_[i].offset, refs_[i].length}; }
    RowPointer row(size_t i) const { return {refs_[i].page, refs_[i].row}; }
    bool all_null(size_t i) const { return refs_[i].all_null; }
    // Bytes the keys added and their references take (the buffers' room left aside).
    size_t memory() const { return used_ + refs_.size() * sizeof(Ref); }
    // The entries in their current order, copied.
    std::vector<IndexEntry> entries() const;

private:
    struct Ref {
        uint64_t head;  // first eight key bytes, big-endian, zero-padded
        uint32_t offset;
        uint32_t length;
        uint32_t page;
        uint8_t row;
        bool all_null;
    };
    static bool before(const Ref& a, const Ref& b, const uint8_t* bytes);
    static bool less(const Ref& a, const Ref& b, const uint8_t* bytes);
    uint64_t varying_head_bits() const;
    void radix_by_head(uint64_t varying_bits);
    // Below this many keys a comparison sort is as quick as the radix passes.
    static constexpr size_t kRadixFrom = 64;

    std::vector<uint8_t> bytes_;  // keys end to end in the first used_ bytes; the rest is room
    size_t used_ = 0;
    std::vector<Ref> refs_;
    bool in_order_ = true;      // refs_ in entry order
    bool rows_in_order_ = true;  // added in row order
    bool heads_whole_ = true;    // every key of one length, at most eight bytes
};

}  // namespace jet
