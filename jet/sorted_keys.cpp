#include "jet/sorted_keys.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace jet {
namespace {

uint64_t head_of(std::span<const uint8_t> key) {
    uint64_t h = 0;
    const size_t n = std::min<size_t>(key.size(), 8);
    for (size_t i = 0; i < 8; ++i) h = (h << 8) | (i < n ? key[i] : 0);
    return h;
}

}  // namespace

void SortedKeys::reserve(size_t keys, size_t bytes) {
    refs_.reserve(keys);
    bytes_.reserve(bytes);
}

void SortedKeys::add(std::span<const uint8_t> key, RowPointer row) {
    if (bytes_.size() + key.size() > UINT32_MAX) throw std::length_error("index keys exceed 4 GiB");
    refs_.push_back({head_of(key), static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(key.size()), row.page,
                     row.row});
    bytes_.insert(bytes_.end(), key.begin(), key.end());
}

// Equal heads. Zero padding makes a key and its extension by zero bytes share a head; the
// full comparison past the head and then the length settle those. Inline: many keys of
// one index share their first eight bytes (repeated values, long text prefixes).
inline bool SortedKeys::before(const Ref& a, const Ref& b, const uint8_t* bytes) {
    if (a.length > 8 && b.length > 8) {
        const size_t n = std::min(a.length, b.length) - 8;
        if (int c = std::memcmp(bytes + a.offset + 8, bytes + b.offset + 8, n); c != 0) return c < 0;
    }
    if (a.length != b.length) return a.length < b.length;
    if (a.page != b.page) return a.page < b.page;
    return a.row < b.row;
}

// Stable least-significant-byte-first radix sort of refs by their head: one pass per head
// byte, skipping bytes all keys share (the flag byte, high bytes of small numbers).
void SortedKeys::radix_by_head() {
    const size_t n = refs_.size();
    uint32_t counts[8][256] = {};
    for (const Ref& r : refs_)
        for (unsigned b = 0; b < 8; ++b) ++counts[b][(r.head >> (8 * b)) & 0xFF];
    std::vector<Ref> scratch(n);
    Ref* from = refs_.data();
    Ref* to = scratch.data();
    for (unsigned b = 0; b < 8; ++b) {
        uint32_t* c = counts[b];
        if (c[(from[0].head >> (8 * b)) & 0xFF] == n) continue;  // one bucket: order unchanged
        uint32_t sum = 0;
        for (unsigned v = 0; v < 256; ++v) sum += std::exchange(c[v], sum);
        for (size_t i = 0; i < n; ++i) to[c[(from[i].head >> (8 * b)) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != refs_.data()) std::copy(from, from + n, refs_.data());
}

void SortedKeys::sort() {
    const uint8_t* bytes = bytes_.data();
    auto less = [bytes](const Ref& a, const Ref& b) { return a.head != b.head ? a.head < b.head : before(a, b, bytes); };
    // Rows often lie in key order already (counters, dates of entry).
    if (std::is_sorted(refs_.begin(), refs_.end(), less)) return;
    if (refs_.size() < kRadixFrom) return std::sort(refs_.begin(), refs_.end(), less);
    radix_by_head();
    // Equal heads were kept in scan order, which is mostly row order already.
    auto tie_less = [bytes](const Ref& a, const Ref& b) { return before(a, b, bytes); };
    for (auto run = refs_.begin(); run != refs_.end();) {
        auto end = std::find_if(run + 1, refs_.end(), [&](const Ref& r) { return r.head != run->head; });
        if (end - run > 1 && !std::is_sorted(run, end, tie_less)) std::sort(run, end, tie_less);
        run = end;
    }
}

void SortedKeys::clear() {
    bytes_.clear();
    refs_.clear();
}

size_t SortedKeys::repeated_keys(const std::function<bool(RowPointer)>& ignore) const {
    size_t n = 0;
    for (size_t i = 1; i < refs_.size(); ++i) {
        const Ref &a = refs_[i - 1], &b = refs_[i];
        if (ignore && ignore(row(i))) continue;
        n += a.head == b.head && a.length == b.length &&
             (a.length == 0 || std::memcmp(bytes_.data() + a.offset, bytes_.data() + b.offset, a.length) == 0);
    }
    return n;
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

std::vector<KeyEntry> SortedKeys::views() const {
    std::vector<KeyEntry> out(refs_.size());
    for (size_t i = 0; i < refs_.size(); ++i) {
        out[i].key = key(i);
        out[i].row = row(i);
    }
    return out;
}

}  // namespace jet
