#pragma once
// Whole-page reads and writes for code that rewrites structures (index rebuilds): the
// repair's working copy implements it, tests and benchmarks use a file held in memory.
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace jet {

class PageStore {
public:
    virtual ~PageStore() = default;
    virtual uint32_t page_size() const = 0;
    virtual uint32_t page_count() const = 0;
    // The page, or empty past the end.
    virtual std::vector<uint8_t> read(uint32_t number) const = 0;
    // Replaces a page; number == page_count() appends one.
    virtual void write(uint32_t number, std::span<const uint8_t> bytes) = 0;

    // Writes taken so far, and whether `page` was written after the count `mark`: code that
    // holds pages (a map edit) asks before it trusts them again, instead of being told.
    uint64_t writes() const { return writes_; }
    bool written_since(uint64_t mark, uint32_t page) const {
        const auto it = stamps_.find(page);
        return it != stamps_.end() && it->second > mark;
    }

protected:
    // Every implementation stamps the pages each write, append or cut touches.
    void stamp(uint32_t first, uint32_t end) {
        ++writes_;
        for (uint32_t p = first; p < end; ++p) stamps_[p] = writes_;
    }

private:
    uint64_t writes_ = 0;
    std::unordered_map<uint32_t, uint64_t> stamps_;
};

// A database file held in memory.
class MemoryPageStore final : public PageStore {
public:
    MemoryPageStore(std::vector<uint8_t> bytes, uint32_t page_size) : bytes_(std::move(bytes)), page_size_(page_size) {}

    uint32_t page_size() const override { return page_size_; }
    uint32_t page_count() const override { return static_cast<uint32_t>(bytes_.size() / page_size_); }
    std::vector<uint8_t> read(uint32_t number) const override {
        if (number >= page_count()) return {};
        auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(uint64_t(number) * page_size_);
        return {first, first + page_size_};
    }
    void write(uint32_t number, std::span<const uint8_t> bytes) override {
        if (number > page_count() || bytes.size() != page_size_) return;
        stamp(number, number + 1);
        if (number == page_count()) bytes_.resize(bytes_.size() - bytes_.size() % page_size_ + page_size_);
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(uint64_t(number) * page_size_));
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    uint32_t page_size_;
};

}  // namespace jet
