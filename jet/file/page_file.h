#pragma once
// Page-addressed access to one database file. Every access is bounds-checked: a page
// past the end comes back empty.
//
// Memory stays bounded by the cache capacity whatever the file size: fetch() returns a
// PageRef that shares ownership of the page bytes, so a page stays readable for as long
// as its handle lives even after the cache has dropped it. read_page() copies into a
// caller's buffer. page() is the older interface: its span must outlive every later read,
// so each page it returns is pinned for the life of the PageFile (use it only for a few
// pages, or memory grows with the file).
//
// One PageFile may be read from several threads at once (the check walks tables side by
// side): the cache is guarded by a lock.
//
// Memory: at most the capacity in cached pages; since a miss reads up to kReadAheadPages
// neighbours into one allocation, a cached page can keep that many pages' bytes alive.
//
// A file whose length is not a multiple of the page size has a partial last page;
// it is treated as missing (page_count() counts whole pages only) and reported through
// trailing_bytes(), so nothing ever reads a short page.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "jet/base/parallel.h"

namespace jet {

class NativeFile;

// The bytes of one page, owned jointly with the cache. Empty when the page is missing.
// The view is only handed out from a named handle: converting a temporary would leave a
// span whose bytes may be freed at the end of the statement, so that does not compile.
class PageRef {
public:
    PageRef() = default;
    PageRef(std::shared_ptr<const void> owner, std::span<const uint8_t> bytes)
        : owner_(std::move(owner)), bytes_(bytes) {}

    std::span<const uint8_t> bytes() const& { return bytes_; }
    std::span<const uint8_t> bytes() const&& = delete;
    operator std::span<const uint8_t>() const& { return bytes_; }
    operator std::span<const uint8_t>() const&& = delete;

    bool empty() const { return bytes_.empty(); }
    size_t size() const { return bytes_.size(); }
    uint8_t operator[](size_t i) const { return bytes_[i]; }

private:
    std::shared_ptr<const void> owner_;
    std::span<const uint8_t> bytes_;
};

class PageFile {
public:
    enum class Mode { ReadOnly, ReadWrite };
    // 4 MiB of 4 KiB pages: the check walks a file several times (rows, indexes, maps), so
    // files up to that size are read from the disk once; larger ones still stay bounded.
    static constexpr size_t kDefaultCachePages = 1024;
    // Pages a miss reads in one go (see read_ahead).
    static constexpr uint32_t kReadAheadPages = 16;

    // Opens the file; the page size is set later with set_page_size() once page 0 is
    // known. Throws std::runtime_error (English, internal) if the file cannot be opened.
    explicit PageFile(const std::filesystem::path& path, Mode mode = Mode::ReadOnly);
    // A file held in memory (tests, synthetic pages).
    PageFile(std::vector<uint8_t> bytes, uint32_t page_size);
    // Reads, never writes, through a file already open (the repair holds the database
    // exclusively, so it cannot be opened again by path). The file must stay open for the
    // life of the PageFile.
    explicit PageFile(const NativeFile& file);
    // Moves the file and its cache; nothing may be reading `other` meanwhile.
    PageFile(PageFile&& other) noexcept;
    PageFile& operator=(PageFile&&) = delete;

    // Drops every cached and pinned page (PageRefs already handed out stay valid).
    void set_page_size(uint32_t page_size);
    uint32_t page_size() const { return page_size_; }
    uint64_t file_size() const { return file_size_; }
    uint32_t page_count() const { return page_count_; }
    uint32_t trailing_bytes() const { return static_cast<uint32_t>(file_size_ % page_size_); }

    // The page through the bounded cache; empty when past the last whole page or unreadable.
    PageRef fetch(uint32_t number) const;
    // Copies the page into out (exactly page_size() bytes) without caching it; false when
    // the page is missing or unreadable or out has the wrong size.
    bool read_page(uint32_t number, std::span<uint8_t> out) const;
    // The page, valid for the life of the PageFile: pinned, never evicted (see above).
    std::span<const uint8_t> page(uint32_t number) const;
    // The first bytes of the file, up to length (for page 0 before the page size is known).
    std::vector<uint8_t> read_prefix(size_t length) const;

    // While set, the number of every page this thread asks for (also a missing one) is
    // appended to `log`: what a result read, for callers that reuse results whose pages did
    // not change. One log per thread; nullptr stops it.
    void set_read_log(std::vector<uint32_t>* log) const;
    // Logs this thread's reads of `file` into `log` (when not null) for the life of the object.
    class ReadLog {
    public:
        ReadLog(const PageFile& file, std::vector<uint32_t>* log) : file_(file) { file_.set_read_log(log); }
        ~ReadLog() { file_.set_read_log(nullptr); }
        ReadLog(const ReadLog&) = delete;
        ReadLog& operator=(const ReadLog&) = delete;

    private:
        const PageFile& file_;
    };

    // How many pages the cache keeps besides pinned ones (at least 1).
    void set_cache_capacity(size_t pages);
    size_t cache_capacity() const { return capacity_; }
    size_t cached_pages() const { return lru_.size(); }
    size_t pinned_pages() const { return pinned_.size(); }

    // Seam for repairs on a working copy: replaces a whole page (file opened ReadWrite, or
    // in memory). Cached copies, pinned spans and live PageRefs see the new bytes.
    // Returns false when the page is out of range or the write fails.
    bool write_page(uint32_t number, std::span<const uint8_t> bytes);
    bool flush();

    // The repair's pager: the file behind a PageFile over a NativeFile was written through
    // that same handle. The cache takes the page's new bytes (pinned spans and live
    // PageRefs see them), or the file's new length, and the generation moves on.
    void written(uint32_t number, std::span<const uint8_t> bytes);
    void resized(uint64_t file_size);
    // How many writes this PageFile has seen: readings derived from its pages (a
    // Database's catalog and definitions) are current while it stays the same.
    uint64_t generation() const { return generation_; }

private:
    using Buffer = std::vector<uint8_t>;
    // One page's bytes. Pages read together share one allocation (the pointer aliases
    // into it), which lives until the last of them leaves the cache and every PageRef.
    using PageBytes = std::shared_ptr<uint8_t[]>;
    struct Cached {
        PageBytes bytes;
        std::list<uint32_t>::iterator position;
    };

    PageBytes load(uint32_t number, bool forward) const;
    bool read_from_disk(uint32_t number, uint8_t* out) const;
    bool read_run_from_disk(uint32_t first, uint32_t count, uint8_t* out) const;
    bool read_ahead(uint32_t number) const;
    void remember(uint32_t number, PageBytes bytes) const;
    uint8_t* cached_bytes(uint32_t number) const;

    mutable std::fstream stream_;
    const NativeFile* native_ = nullptr;
    std::shared_ptr<Buffer> memory_;  // whole file when built in memory
    Mode mode_ = Mode::ReadOnly;
    uint64_t file_size_ = 0;
    uint32_t page_size_ = 4096;
    uint32_t page_count_ = 0;
    size_t capacity_ = kDefaultCachePages;
    void note_read(uint32_t number) const;

    mutable ThreadLock lock_;  // guards the stream above and the cache below
    mutable std::list<uint32_t> lru_;  // most recently used first
    mutable std::unordered_map<uint32_t, Cached> cache_;
    mutable std::unordered_map<uint32_t, PageBytes> pinned_;
    std::vector<PageBytes> cut_away_;  // pinned pages a truncation removed: spans stay valid
    uint64_t generation_ = 0;
};

}  // namespace jet
