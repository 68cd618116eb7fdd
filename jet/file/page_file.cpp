#include "jet/file/page_file.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/file/native_file.h"

namespace jet {

namespace {
// The read log of the calling thread: which file it listens to and where it writes.
thread_local const PageFile* log_file = nullptr;
thread_local std::vector<uint32_t>* log_pages = nullptr;

// The last pages the calling thread fetched, to tell a forward walk from scattered reads
// (index leaves in key order, long values): only a walk gains from reading ahead.
struct RecentPages {
    static constexpr size_t kKept = 4;
    const PageFile* file = nullptr;
    uint32_t pages[kKept] = {};
    size_t next = 0;

    // Notes `number`; true when it lies at most `reach` pages after one fetched just before.
    bool note_forward(const PageFile* of, uint32_t number, uint32_t reach) {
        bool forward = false;
        if (file == of)
            for (uint32_t p : pages) forward = forward || (number > p && number - p <= reach);
        else
            *this = RecentPages{of, {number, number, number, number}, 0};
        pages[next] = number;
        next = (next + 1) % kKept;
        return forward;
    }
};
thread_local RecentPages recent_pages;
}  // namespace

void PageFile::set_read_log(std::vector<uint32_t>* log) const {
    log_file = log ? this : nullptr;
    log_pages = log;
}

void PageFile::note_read(uint32_t number) const {
    if (log_file == this) log_pages->push_back(number);
}

PageFile::PageFile(const std::filesystem::path& path, Mode mode) : mode_(mode) {
    auto flags = std::ios::binary | std::ios::in;
    if (mode == Mode::ReadWrite) flags |= std::ios::out;
    // Unbuffered: reads are whole pages or runs of them, and the stream's own buffer only
    // doubled every single-page read (twice the bytes, one more copy).
    stream_.rdbuf()->pubsetbuf(nullptr, 0);
    stream_.open(extended_path(path), flags);
    if (!stream_) throw std::runtime_error("cannot open file");
    stream_.seekg(0, std::ios::end);
    auto end = stream_.tellg();
    if (end < 0) throw std::runtime_error("cannot size file");
    file_size_ = static_cast<uint64_t>(end);
    set_page_size(page_size_);
}

PageFile::PageFile(const NativeFile& file) : native_(&file), mode_(Mode::ReadOnly), file_size_(file.size()) {
    set_page_size(page_size_);
}

PageFile::PageFile(std::vector<uint8_t> bytes, uint32_t page_size)
    : memory_(std::make_shared<Buffer>(std::move(bytes))), mode_(Mode::ReadWrite), file_size_(memory_->size()) {
    set_page_size(page_size);
}

PageFile::PageFile(PageFile&& other) noexcept
    : stream_(std::move(other.stream_)),
      native_(other.native_),
      memory_(std::move(other.memory_)),
      mode_(other.mode_),
      file_size_(other.file_size_),
      page_size_(other.page_size_),
      page_count_(other.page_count_),
      capacity_(other.capacity_),
      lru_(std::move(other.lru_)),  // the cache's list positions move with the nodes
      cache_(std::move(other.cache_)),
      pinned_(std::move(other.pinned_)),
      cut_away_(std::move(other.cut_away_)),
      generation_(other.generation_) {}

void PageFile::set_page_size(uint32_t page_size) {
    LockHold hold(lock_);
    page_size_ = page_size == 0 ? 4096 : page_size;
    uint64_t count = file_size_ / page_size_;
    page_count_ = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
    lru_.clear();
    cache_.clear();
    pinned_.clear();
}

void PageFile::set_cache_capacity(size_t pages) {
    LockHold hold(lock_);
    capacity_ = std::max<size_t>(pages, 1);
    while (lru_.size() > capacity_) {
        cache_.erase(lru_.back());
        lru_.pop_back();
    }
}

bool PageFile::read_from_disk(uint32_t number, uint8_t* out) const { return read_run_from_disk(number, 1, out); }

bool PageFile::read_run_from_disk(uint32_t first, uint32_t count, uint8_t* out) const {
    const size_t length = size_t(count) * page_size_;
    if (native_) {
        try {
            native_->read_at(uint64_t(first) * page_size_, {out, length});
            return true;
        } catch (const EngineError&) {
            return false;
        }
    }
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(uint64_t(first) * page_size_));
    stream_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(length));
    const bool whole = stream_.gcount() == static_cast<std::streamsize>(length);
    stream_.clear();
    return whole;
}

uint8_t* PageFile::cached_bytes(uint32_t number) const {
    if (auto it = pinned_.find(number); it != pinned_.end()) return it->second.get();
    if (auto it = cache_.find(number); it != cache_.end()) return it->second.bytes.get();
    return nullptr;
}

// The page's bytes from the pinned set or the cache, read from disk on a miss; the
// least recently used page leaves the cache when it is full.
PageFile::PageBytes PageFile::load(uint32_t number, bool forward) const {
    if (auto it = pinned_.find(number); it != pinned_.end()) return it->second;
    if (auto it = cache_.find(number); it != cache_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second.position);
        return it->second.bytes;
    }
    if (forward && read_ahead(number)) {
        if (auto it = cache_.find(number); it != cache_.end()) return it->second.bytes;
    }
    PageBytes bytes = std::make_shared_for_overwrite<uint8_t[]>(page_size_);
    if (!read_from_disk(number, bytes.get())) return nullptr;
    remember(number, bytes);
    return bytes;
}

void PageFile::remember(uint32_t number, PageBytes bytes) const {
    if (lru_.size() >= capacity_) {
        cache_.erase(lru_.back());
        lru_.pop_back();
    }
    lru_.push_front(number);
    cache_.emplace(number, Cached{std::move(bytes), lru_.begin()});
}

// The walks go through a file mostly forward, a table's pages often side by side, and
// one read of a few dozen KiB costs little more than one of a page: a miss brings in the
// pages after it too, up to the first one already held. Only while the cache can keep
// them all without dropping the pages just read, and only on a forward walk: for scattered
// reads (an index's leaves in key order) the neighbours are seldom wanted, and reading
// them multiplied the bytes read by the run's length and pushed wanted pages out.
bool PageFile::read_ahead(uint32_t number) const {
    if (capacity_ < 4 * kReadAheadPages || page_count_ - number < 2) return false;
    uint32_t count = 1;
    while (count < kReadAheadPages && number + count < page_count_ && !cached_bytes(number + count)) ++count;
    if (count < 2) return false;
    PageBytes run = std::make_shared_for_overwrite<uint8_t[]>(size_t(count) * page_size_);
    if (!read_run_from_disk(number, count, run.get())) return false;
    for (uint32_t i = count; i-- > 0;)  // the asked-for page ends up most recent
        remember(number + i, PageBytes(run, run.get() + size_t(i) * page_size_));
    return true;
}

PageRef PageFile::fetch(uint32_t number) const {
    note_read(number);
    const bool forward = recent_pages.note_forward(this, number, 1);
    LockHold hold(lock_);
    if (number >= page_count_) return {};
    if (memory_) return PageRef(memory_, {memory_->data() + uint64_t(number) * page_size_, page_size_});
    PageBytes bytes = load(number, forward);
    if (!bytes) return {};
    const std::span<const uint8_t> view(bytes.get(), page_size_);
    return PageRef(std::move(bytes), view);
}

bool PageFile::read_page(uint32_t number, std::span<uint8_t> out) const {
    note_read(number);
    LockHold hold(lock_);
    if (number >= page_count_ || out.size() != page_size_) return false;
    if (memory_) {
        std::memcpy(out.data(), memory_->data() + uint64_t(number) * page_size_, page_size_);
        return true;
    }
    if (const uint8_t* cached = cached_bytes(number)) {
        std::memcpy(out.data(), cached, page_size_);
        return true;
    }
    return read_from_disk(number, out.data());
}

std::span<const uint8_t> PageFile::page(uint32_t number) const {
    note_read(number);
    LockHold hold(lock_);
    if (number >= page_count_) return {};
    if (memory_) return {memory_->data() + uint64_t(number) * page_size_, page_size_};
    PageBytes bytes = load(number, false);
    if (!bytes) return {};
    pinned_.emplace(number, bytes);
    return {bytes.get(), page_size_};
}

std::vector<uint8_t> PageFile::read_prefix(size_t length) const {
    LockHold hold(lock_);
    length = static_cast<size_t>(std::min<uint64_t>(length, file_size_));
    std::vector<uint8_t> out(length);
    if (memory_) {
        std::copy_n(memory_->begin(), length, out.begin());
        return out;
    }
    if (native_) {
        try {
            native_->read_at(0, out);
        } catch (const EngineError&) {
            out.clear();
        }
        return out;
    }
    stream_.clear();
    stream_.seekg(0);
    stream_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
    out.resize(static_cast<size_t>(std::max<std::streamsize>(stream_.gcount(), 0)));
    stream_.clear();
    return out;
}

bool PageFile::write_page(uint32_t number, std::span<const uint8_t> bytes) {
    LockHold hold(lock_);
    if (mode_ != Mode::ReadWrite || number >= page_count_ || bytes.size() != page_size_) return false;
    if (memory_) {
        std::copy(bytes.begin(), bytes.end(), memory_->begin() + uint64_t(number) * page_size_);
        return true;
    }
    stream_.clear();
    stream_.seekp(static_cast<std::streamoff>(uint64_t(number) * page_size_));
    stream_.write(reinterpret_cast<const char*>(bytes.data()), page_size_);
    if (!stream_) {
        stream_.clear();
        return false;
    }
    if (uint8_t* cached = cached_bytes(number)) std::memcpy(cached, bytes.data(), page_size_);
    return true;
}

void PageFile::written(uint32_t number, std::span<const uint8_t> bytes) {
    LockHold hold(lock_);
    ++generation_;
    if (number >= page_count_ || bytes.size() != page_size_) return;
    if (memory_) {
        std::copy(bytes.begin(), bytes.end(), memory_->begin() + uint64_t(number) * page_size_);
        return;
    }
    if (uint8_t* cached = cached_bytes(number)) std::memcpy(cached, bytes.data(), page_size_);
}

void PageFile::resized(uint64_t file_size) {
    LockHold hold(lock_);
    ++generation_;
    // Bytes held in memory never grow: PageRefs point into them.
    file_size_ = memory_ ? std::min<uint64_t>(file_size, memory_->size()) : file_size;
    page_count_ = static_cast<uint32_t>(std::min<uint64_t>(file_size_ / page_size_, UINT32_MAX));
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->first < page_count_) {
            ++it;
            continue;
        }
        lru_.erase(it->second.position);
        it = cache_.erase(it);
    }
    for (auto it = pinned_.begin(); it != pinned_.end();) {
        if (it->first < page_count_) {
            ++it;
            continue;
        }
        cut_away_.push_back(std::move(it->second));
        it = pinned_.erase(it);
    }
}

bool PageFile::flush() {
    LockHold hold(lock_);
    if (memory_ || native_) return true;
    stream_.flush();
    return static_cast<bool>(stream_);
}

}  // namespace jet
