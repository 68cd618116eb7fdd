#pragma once
// Whole-page reads and writes for code that rewrites structures (index rebuilds): the
// repair's working copy implements it, tests and benchmarks use a file held in memory.
#include <cstdint>
#include <span>
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
        if (number == page_count()) bytes_.resize(bytes_.size() - bytes_.size() % page_size_ + page_size_);
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(uint64_t(number) * page_size_));
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    uint32_t page_size_;
};

}  // namespace jet
