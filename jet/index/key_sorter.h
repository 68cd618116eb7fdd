#pragma once
// The keys of one index in entry order, within a bounded amount of memory. Keys gather in
// a SortedKeys; once it holds `memory` bytes it is sorted and written out as one run to a
// scratch file, and reading merges the runs. A table whose keys fit never touches the
// disk; a table of millions of rows costs its runs' read buffers, not its keys.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/file/native_file.h"
#include "jet/index/index_build.h"
#include "jet/index/index_page.h"
#include "jet/index/sorted_keys.h"

namespace jet {

struct SortedEntry {
    std::span<const uint8_t> key;  // valid until the reader's next call
    RowPointer row;
    bool all_null = false;  // the row's key columns are all NULL
};

struct KeySortLimits {
    size_t memory = size_t{8} << 20;  // keys and their references held before a run is written
                                      // (their buffers may take twice that while they grow)
    // Runs go to "<scratch>-N.tmp"; empty: "claves-N.tmp" in the system's temporary folder.
    std::filesystem::path scratch;
};

class KeySorter {
public:
    explicit KeySorter(KeySortLimits limits = {});
    KeySorter(KeySorter&&) noexcept;
    KeySorter& operator=(KeySorter&&) noexcept;
    ~KeySorter();

    // Throws FileError when a run cannot be written.
    void add(std::span<const uint8_t> key, RowPointer row, bool all_null = false);
    // No more keys: what is held is sorted (and written out, when runs were).
    void finish();
    // Forgets every key (the index will not be built).
    void clear();
    size_t size() const { return count_; }
    size_t runs() const { return runs_.size(); }

    // One pass over every key in entry order; any number of passes once finished.
    class Reader {
    public:
        Reader(Reader&&) noexcept;
        ~Reader();
        bool next(SortedEntry& out);

    private:
        friend class KeySorter;
        struct Run;
        explicit Reader(const KeySorter& sorter);
        bool before(size_t a, size_t b) const;
        const KeySorter& sorter_;
        size_t at_ = 0;                     // in memory: the next key
        std::vector<std::unique_ptr<Run>> runs_;
        std::vector<size_t> heap_;          // runs by their current entry, least first
        size_t yielded_ = SIZE_MAX;         // the run whose entry the caller holds
    };
    Reader read() const;

private:
    struct RunSpan {
        uint64_t offset = 0;
        uint64_t end = 0;
    };
    void spill();
    KeySortLimits limits_;
    SortedKeys held_;
    size_t count_ = 0;
    NativeFile file_;
    uint64_t file_end_ = 0;
    std::vector<RunSpan> runs_;
};

// The sorted keys as entries to lay out into pages.
class KeySorterStream final : public EntryStream {
public:
    explicit KeySorterStream(const KeySorter& keys) : keys_(keys) {}
    void restart() override { reader_.emplace(keys_.read()); }
    bool next(KeyEntry& out) override {
        SortedEntry e;
        if (!reader_ || !reader_->next(e)) return false;
        out = {e.key, e.row, 0};
        return true;
    }

private:
    const KeySorter& keys_;
    std::optional<KeySorter::Reader> reader_;
};

// Each key equal to the key before it, but for all-NULL ones (rows that repeat a unique
// key), with the row of the entry before it; then how many there are.
void for_each_repeated_key(const KeySorter& keys, const std::function<void(RowPointer earlier, RowPointer row)>& take);
size_t repeated_keys(const KeySorter& keys);

}  // namespace jet
