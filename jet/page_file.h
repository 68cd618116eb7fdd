#pragma once
// Page-addressed access to one database file. Every access is bounds-checked: a page
// past the end comes back empty. Pages are loaded on first use and stay cached, so a
// span handed out remains valid for the life of the PageFile.
//
// A file whose length is not a multiple of the page size has a partial last page;
// it is treated as missing (page_count() counts whole pages only) and reported through
// trailing_bytes(), so nothing ever reads a short page.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <span>
#include <vector>

namespace jet {

class PageFile {
public:
    enum class Mode { ReadOnly, ReadWrite };

    // Opens the file; the page size is set later with set_page_size() once page 0 is
    // known. Throws std::runtime_error (English, internal) if the file cannot be opened.
    explicit PageFile(const std::filesystem::path& path, Mode mode = Mode::ReadOnly);
    // A file held in memory (tests, synthetic pages).
    PageFile(std::vector<uint8_t> bytes, uint32_t page_size);

    void set_page_size(uint32_t page_size);
    uint32_t page_size() const { return page_size_; }
    uint64_t file_size() const { return file_size_; }
    uint32_t page_count() const { return page_count_; }
    uint32_t trailing_bytes() const { return static_cast<uint32_t>(file_size_ % page_size_); }

    // The page, or an empty span when it lies past the last whole page or cannot be read.
    std::span<const uint8_t> page(uint32_t number) const;
    // The first bytes of the file, up to length (for page 0 before the page size is known).
    std::vector<uint8_t> read_prefix(size_t length) const;

    // Seam for repairs on a working copy: replaces a whole page (file opened ReadWrite, or
    // in memory). Returns false when the page is out of range or the write fails.
    bool write_page(uint32_t number, std::span<const uint8_t> bytes);
    bool flush();

private:
    mutable std::fstream stream_;
    std::vector<uint8_t> memory_;  // whole file when built in memory
    bool in_memory_ = false;
    Mode mode_ = Mode::ReadOnly;
    uint64_t file_size_ = 0;
    uint32_t page_size_ = 4096;
    uint32_t page_count_ = 0;
    mutable std::map<uint32_t, std::unique_ptr<uint8_t[]>> cache_;
};

}  // namespace jet
