#include "jet/index/key_sorter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "jet/base/bytes.h"

namespace jet {
namespace {

// A run is records end to end: key length (u16), row, flags, row page (u32), the key.
constexpr size_t kRecordHead = 8;
constexpr uint8_t kAllNull = 0x01;
constexpr size_t kWriteBuffer = size_t{1} << 18;
constexpr size_t kLeastReadBuffer = size_t{1} << 12, kMostReadBuffer = size_t{1} << 16;

std::filesystem::path scratch_prefix(const std::filesystem::path& chosen) {
    if (!chosen.empty()) return chosen;
    std::error_code ec;
    const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    return (ec ? std::filesystem::path(".") : tmp) / "claves";
}

}  // namespace

KeySorter::KeySorter(KeySortLimits limits) : limits_(std::move(limits)) {}
KeySorter::KeySorter(KeySorter&&) noexcept = default;
KeySorter& KeySorter::operator=(KeySorter&&) noexcept = default;
KeySorter::~KeySorter() = default;

void KeySorter::add(std::span<const uint8_t> key, RowPointer row, bool all_null) {
    if (key.size() > UINT16_MAX) throw std::length_error("index key longer than a page");
    held_.add(key, row, all_null);
    ++count_;
    if (held_.memory() >= limits_.memory && held_.size() > 1) spill();
}

void KeySorter::spill() {
    held_.sort();
    if (!file_.is_open()) file_ = NativeFile::create_temporary(scratch_prefix(limits_.scratch));
    std::vector<uint8_t> out;
    out.reserve(kWriteBuffer);
    const uint64_t start = file_end_;
    auto flush = [&] {
        file_.write_at(file_end_, out);
        file_end_ += out.size();
        out.clear();
    };
    for (size_t i = 0; i < held_.size(); ++i) {
        const std::span<const uint8_t> key = held_.key(i);
        const RowPointer row = held_.row(i);
        if (out.size() + kRecordHead + key.size() > kWriteBuffer) flush();
        const size_t at = out.size();
        out.resize(at + kRecordHead);
        put_u16(out, at, static_cast<uint16_t>(key.size()));
        out[at + 2] = row.row;
        out[at + 3] = held_.all_null(i) ? kAllNull : 0;
        put_u32(out, at + 4, row.page);
        out.insert(out.end(), key.begin(), key.end());
    }
    flush();
    runs_.push_back({start, file_end_});
    held_.clear();
}

void KeySorter::finish() {
    if (runs_.empty()) {
        held_.sort();
        return;
    }
    if (held_.size() > 0) spill();
    held_ = SortedKeys();  // its room is not needed for reading runs
}

void KeySorter::clear() {
    held_ = SortedKeys();
    runs_.clear();
    count_ = 0;
    file_.close();
    file_end_ = 0;
}

// One run read through a small buffer: the current entry stays put in the buffer until
// the next one is asked for.
struct KeySorter::Reader::Run {
    Run(const NativeFile& f, const RunSpan& span, size_t room) : file(f), next_read(span.offset), end(span.end), buffer(room) {}
    const NativeFile& file;
    uint64_t next_read;  // file offset of the bytes after the buffer's
    uint64_t end;
    std::vector<uint8_t> buffer;
    size_t at = 0, filled = 0;
    SortedEntry entry;
    size_t entry_size = 0;

    // Makes `want` bytes from `at` present; false when the run ends first.
    bool have(size_t want) {
        if (filled - at >= want) return true;
        std::memmove(buffer.data(), buffer.data() + at, filled - at);
        filled -= at;
        at = 0;
        if (buffer.size() < want) buffer.resize(want);
        const size_t more = static_cast<size_t>(std::min<uint64_t>(buffer.size() - filled, end - next_read));
        if (more) file.read_at(next_read, std::span(buffer).subspan(filled, more));
        next_read += more;
        filled += more;
        return filled >= want;
    }
    bool advance() {
        at += entry_size;
        entry_size = 0;
        if (!have(kRecordHead)) return false;
        const size_t length = u16_at(std::span(buffer).subspan(at), 0);
        if (!have(kRecordHead + length)) throw std::runtime_error("a run of sorted keys ends early");
        const std::span<const uint8_t> record = std::span(buffer).subspan(at, kRecordHead + length);
        entry.row = {u32_at(record, 4), record[2]};
        entry.all_null = (record[3] & kAllNull) != 0;
        entry.key = record.subspan(kRecordHead);
        entry_size = kRecordHead + length;
        return true;
    }
};

KeySorter::Reader::Reader(const KeySorter& sorter) : sorter_(sorter) {
    // The runs' buffers share the memory the keys had.
    const size_t room = std::clamp(sorter.limits_.memory / std::max<size_t>(1, sorter.runs_.size()), kLeastReadBuffer,
                                   kMostReadBuffer);
    for (const RunSpan& span : sorter.runs_) {
        auto run = std::make_unique<Run>(sorter.file_, span, room);
        if (!run->advance()) continue;
        heap_.push_back(runs_.size());
        runs_.push_back(std::move(run));
    }
    std::make_heap(heap_.begin(), heap_.end(), [this](size_t a, size_t b) { return before(b, a); });
}
KeySorter::Reader::Reader(Reader&&) noexcept = default;
KeySorter::Reader::~Reader() = default;

bool KeySorter::Reader::before(size_t a, size_t b) const {
    const SortedEntry &x = runs_[a]->entry, &y = runs_[b]->entry;
    return compare_entries(x.key, x.row, y.key, y.row) < 0;
}

bool KeySorter::Reader::next(SortedEntry& out) {
    const SortedKeys& held = sorter_.held_;
    if (sorter_.runs_.empty()) {
        if (at_ >= held.size()) return false;
        out = {held.key(at_), held.row(at_), held.all_null(at_)};
        ++at_;
        return true;
    }
    auto after = [this](size_t a, size_t b) { return before(b, a); };
    if (yielded_ != SIZE_MAX && runs_[yielded_]->advance()) {
        heap_.push_back(yielded_);
        std::push_heap(heap_.begin(), heap_.end(), after);
    }
    yielded_ = SIZE_MAX;
    if (heap_.empty()) return false;
    std::pop_heap(heap_.begin(), heap_.end(), after);
    yielded_ = heap_.back();
    heap_.pop_back();
    out = runs_[yielded_]->entry;
    return true;
}

KeySorter::Reader KeySorter::read() const { return Reader(*this); }

void for_each_repeated_key(const KeySorter& keys, const std::function<void(RowPointer earlier, RowPointer row)>& take) {
    std::vector<uint8_t> last;
    RowPointer last_row{};
    bool first = true;
    SortedEntry e;
    for (KeySorter::Reader r = keys.read(); r.next(e);) {
        if (!first && !e.all_null && std::equal(e.key.begin(), e.key.end(), last.begin(), last.end()))
            take(last_row, e.row);
        else
            last.assign(e.key.begin(), e.key.end());
        last_row = e.row;
        first = false;
    }
}

size_t repeated_keys(const KeySorter& keys) {
    size_t n = 0;
    for_each_repeated_key(keys, [&](RowPointer, RowPointer) { ++n; });
    return n;
}

}  // namespace jet
