#include "jet/index/sorted_keys.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "jet/base/byte_runs.h"

namespace jet {
namespace {

uint64_t load_be32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

// Whole-word loads (two overlapping ones for four to seven bytes, the common integer key):
// a zero-padded copy would stall the load on the narrower stores before it.
uint64_t head_of(std::span<const uint8_t> key) {
    const size_t n = key.size();
    if (n >= 8) {
        uint64_t h;
        std::memcpy(&h, key.data(), 8);
        if constexpr (std::endian::native == std::endian::little) h = __builtin_bswap64(h);
        return h;
    }
    if (n >= 4) return load_be32(key.data()) << 32 | load_be32(key.data() + n - 4) << (8 * (8 - n));
    uint64_t h = 0;
    for (size_t i = 0; i < n; ++i) h |= uint64_t(key[i]) << (56 - 8 * i);
    return h;
}

}  // namespace

// Equal heads. Zero padding makes a key and its extension by zero bytes share a head; the
// full comparison past the head and then the length settle those. Inline: many keys of
// one index share their first eight bytes (repeated values, long text prefixes).
inline bool SortedKeys::before(const Ref& a, const Ref& b, const uint8_t* bytes) {
    if (a.length > 8 && b.length > 8) {
        size_t n = std::min(a.length, b.length) - 8;
        const uint8_t* x = bytes + a.offset + 8;
        const uint8_t* y = bytes + b.offset + 8;
        if (n >= 8) {  // the next eight bytes decide most ties of long keys
            const uint64_t p = head_of({x, 8}), q = head_of({y, 8});
            if (p != q) return p < q;
            x += 8;
            y += 8;
            n -= 8;
        }
        if (n < 8) {  // a few bytes left: compared as heads, without a call
            const uint64_t p = head_of({x, n}), q = head_of({y, n});
            if (p != q) return p < q;
        } else if (int c = std::memcmp(x, y, n); c != 0) {
            return c < 0;
        }
    }
    if (a.length != b.length) return a.length < b.length;
    if (a.page != b.page) return a.page < b.page;
    return a.row < b.row;
}

void SortedKeys::add(std::span<const uint8_t> key, RowPointer row, bool all_null) {
    const size_t n = key.size();
    if (used_ + n > UINT32_MAX) throw std::length_error("index keys exceed 4 GiB");
    if (used_ + n > bytes_.size()) bytes_.resize(std::max(used_ + n, 2 * bytes_.size()));
    copy_short(bytes_.data() + used_, key.data(), n);
    const Ref ref{head_of(key), static_cast<uint32_t>(used_), static_cast<uint32_t>(n), row.page, row.row, all_null};
    // Checked here, while the last key is at hand: rows often lie in key order already.
    if (!refs_.empty()) {
        const Ref& last = refs_.back();
        if (in_order_) in_order_ = !less(ref, last, bytes_.data());
        rows_in_order_ = rows_in_order_ && (last.page < ref.page || (last.page == ref.page && last.row < ref.row));
        heads_whole_ = heads_whole_ && last.length == ref.length;
    } else {
        heads_whole_ = n <= 8;
    }
    refs_.push_back(ref);
    used_ += n;
}

inline bool SortedKeys::less(const Ref& a, const Ref& b, const uint8_t* bytes) {
    return a.head != b.head ? a.head < b.head : before(a, b, bytes);
}

// Head bytes in which the keys differ, as a mask of bits.
uint64_t SortedKeys::varying_head_bits() const {
    uint64_t any = 0, all = ~uint64_t{0};
    for (const Ref& r : refs_) {
        any |= r.head;
        all &= r.head;
    }
    return any ^ all;
}

// Stable least-significant-byte-first radix sort of refs by their head: one pass per head
// byte that varies (the flag byte, high bytes of small numbers are often all alike).
void SortedKeys::radix_by_head(uint64_t varies) {
    const size_t n = refs_.size();
    std::unique_ptr<Ref[]> scratch(new Ref[n]);
    Ref* from = refs_.data();
    Ref* to = scratch.get();
    uint32_t counts[256];
    for (unsigned b = 0; b < 8; ++b) {
        const unsigned shift = 8 * b;
        if (((varies >> shift) & 0xFF) == 0) continue;
        std::fill(std::begin(counts), std::end(counts), 0);
        for (size_t i = 0; i < n; ++i) ++counts[(from[i].head >> shift) & 0xFF];
        uint32_t sum = 0;
        for (uint32_t& c : counts) sum += std::exchange(c, sum);
        for (size_t i = 0; i < n; ++i) to[counts[(from[i].head >> shift) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != refs_.data()) std::copy(from, from + n, refs_.data());
}

void SortedKeys::sort() {
    if (in_order_) return;
    in_order_ = true;
    const bool ties_in_order = rows_in_order_ && heads_whole_;
    rows_in_order_ = false;  // keys added later follow these in key order, not row order
    const uint8_t* bytes = bytes_.data();
    if (refs_.size() < kRadixFrom)
        return std::sort(refs_.begin(), refs_.end(), [bytes](const Ref& a, const Ref& b) { return less(a, b, bytes); });
    // Radix passes, free of the branches a comparison sort mispredicts, even for text.
    radix_by_head(varying_head_bits());
    // Equal heads were kept in scan order, which is mostly row order already, and is when
    // rows came in order and heads hold whole keys of one length (equal heads, equal keys).
    if (ties_in_order) return;
    auto tie_less = [bytes](const Ref& a, const Ref& b) { return before(a, b, bytes); };
    for (auto run = refs_.begin(); run != refs_.end();) {
        auto end = std::find_if(run + 1, refs_.end(), [&](const Ref& r) { return r.head != run->head; });
        if (end - run > 1 && !std::is_sorted(run, end, tie_less)) std::sort(run, end, tie_less);
        run = end;
    }
}

void SortedKeys::clear() {
    used_ = 0;
    in_order_ = rows_in_order_ = heads_whole_ = true;
    refs_.clear();
}

std::vector<IndexEntry> SortedKeys::entries() const {
    std::vector<IndexEntry> out(refs_.size());
    for (size_t i = 0; i < refs_.size(); ++i) {
        const auto k = key(i);
        out[i].key.assign(k.begin(), k.end());
        out[i].row = row(i);
    }
    return out;
}

}  // namespace jet
