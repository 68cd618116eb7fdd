#pragma once
// The key bytes of one index entry. A tree holds thousands of entries whose keys are a
// few dozen bytes at most, so short keys live inside the entry and only longer ones on the
// heap: reading a tree then allocates per page, not per entry.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace jet {

class KeyBytes {
public:
    KeyBytes() = default;
    KeyBytes(std::span<const uint8_t> bytes) { assign(bytes.begin(), bytes.end()); }
    KeyBytes(const std::vector<uint8_t>& bytes) : KeyBytes(std::span<const uint8_t>(bytes)) {}
    KeyBytes(std::initializer_list<uint8_t> bytes) { assign(bytes.begin(), bytes.end()); }
    KeyBytes(const KeyBytes& other) : KeyBytes(other.span()) {}
    KeyBytes(KeyBytes&& other) noexcept { take(other); }
    KeyBytes& operator=(const KeyBytes& other) {
        if (this != &other) assign(other.begin(), other.end());
        return *this;
    }
    KeyBytes& operator=(KeyBytes&& other) noexcept {
        if (this != &other) take(other);
        return *this;
    }
    KeyBytes& operator=(std::initializer_list<uint8_t> bytes) {
        assign(bytes.begin(), bytes.end());
        return *this;
    }

    template <class It>
    void assign(It first, It last) {
        const size_t n = static_cast<size_t>(std::distance(first, last));
        if (n > kInline) {
            if (!heap_ || n > heap_capacity_) {
                heap_ = std::make_unique<uint8_t[]>(n);
                heap_capacity_ = n;
            }
        } else {
            heap_.reset();
            heap_capacity_ = 0;
        }
        size_ = static_cast<uint32_t>(n);
        std::copy(first, last, data());
    }

    uint8_t* data() { return heap_ ? heap_.get() : inline_; }
    const uint8_t* data() const { return heap_ ? heap_.get() : inline_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + size_; }
    uint8_t operator[](size_t i) const { return data()[i]; }
    uint8_t back() const { return data()[size_ - 1]; }
    std::span<const uint8_t> span() const { return {data(), size_}; }
    operator std::span<const uint8_t>() const { return span(); }
    operator std::vector<uint8_t>() const { return {begin(), end()}; }

    friend bool operator==(const KeyBytes& a, const KeyBytes& b) {
        return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data(), b.data(), a.size_) == 0);
    }
    friend bool operator==(const KeyBytes& a, const std::vector<uint8_t>& b) {
        return a.size_ == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size()) == 0);
    }

private:
    static constexpr size_t kInline = 40;

    void take(KeyBytes& other) {
        size_ = other.size_;
        heap_ = std::move(other.heap_);
        heap_capacity_ = other.heap_capacity_;
        if (!heap_) std::memcpy(inline_, other.inline_, size_);
        other.size_ = 0;
        other.heap_capacity_ = 0;
    }

    uint32_t size_ = 0;
    uint8_t inline_[kInline];
    size_t heap_capacity_ = 0;
    std::unique_ptr<uint8_t[]> heap_;
};

}  // namespace jet
