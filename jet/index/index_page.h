#pragma once
// Index pages (leaf 0x04, intermediate 0x03): header, entry-end bitmask, shared prefix,
// entries. Parsing never trusts the page: every offset is checked and every anomaly is
// recorded as an IndexPageIssue, with as many entries recovered as the page allows.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/format.h"
#include "jet/index/key_bytes.h"

namespace jet {

struct IndexEntry {
    KeyBytes key;              // key segments (entry minus row pointer and child)
    RowPointer row;            // big-endian 3-byte page + row byte
    uint32_t child = 0;        // intermediate pages: big-endian child page
};

// An entry whose key bytes live elsewhere (a buffer of keys being laid out into pages).
struct KeyEntry {
    std::span<const uint8_t> key;
    RowPointer row;
    uint32_t child = 0;
};

// Key bytes first, then row page, then row: the order entries must follow.
int compare_entries(const IndexEntry& a, const IndexEntry& b);
int compare_entries(std::span<const uint8_t> a_key, RowPointer a_row, std::span<const uint8_t> b_key, RowPointer b_row);

enum class IndexPageIssueKind {
    WrongType,         // byte 0 is neither 0x03 nor 0x04
    Truncated,         // page shorter than the header
    EntryOutsidePage,  // a bitmask bit names an end past the page
    EntryTooShort,     // an entry cannot hold its row pointer (and child)
    PrefixTooLong,     // shared prefix longer than the first entry
    OutOfOrder,        // entries not strictly increasing
    FreeSpace,         // free-space field disagrees with the end of the entries
    TailOnLeaf,        // a leaf page carries a child tail pointer
};

struct IndexPageIssue {
    IndexPageIssueKind kind;
    std::string detail;  // Spanish
};

struct IndexPage {
    uint8_t type = 0;
    bool leaf = false;
    uint16_t free_space = 0;
    uint32_t owner = 0;  // TDEF page
    uint32_t prev = 0;
    uint32_t next = 0;
    uint32_t tail = 0;  // intermediate pages: last child, not stored as an entry
    size_t prefix_length = 0;
    size_t data_end = 0;  // end of the last entry, from the first-entry offset
    std::vector<IndexEntry> entries;
    std::vector<IndexPageIssue> issues;

    bool valid() const { return issues.empty(); }
};

// Parses one index page of the given layout. Never throws on bad bytes.
IndexPage parse_index_page(Bytes page, const Layout& layout);

// The same parse, handing each entry (key with the shared prefix restored; the view lasts
// for the call only) to `take` in page order instead of keeping it: the returned page has
// no entries. For readers that store entries their own way.
using IndexEntryTaker = std::function<void(std::span<const uint8_t> key, RowPointer row, uint32_t child)>;
IndexPage parse_index_page(Bytes page, const Layout& layout, const IndexEntryTaker& take);

// Bytes one entry occupies when stored in full (key + row pointer [+ child]).
size_t stored_entry_size(const IndexEntry& e, bool leaf);
size_t stored_entry_size(const KeyEntry& e, bool leaf);

// What a new index page holds; entries must be sorted.
struct IndexPageSpec {
    bool leaf = true;
    uint32_t owner = 0;
    uint32_t prev = 0;
    uint32_t next = 0;
    uint32_t tail = 0;
    std::vector<IndexEntry> entries;
    // Shared prefix to use; by default the longest allowed. Access itself often stores
    // a shorter one than it could (any length up to the longest is valid).
    std::optional<size_t> prefix_length;
};

// Longest prefix the entries may share on one page: common to all of them, never
// reaching a row byte, and within what the layout's prefix field can hold.
size_t shared_prefix_length(std::span<const IndexEntry> entries, bool leaf, const Layout& layout);
size_t shared_prefix_length(std::span<const KeyEntry> entries, bool leaf, const Layout& layout);

// Bytes the entries need on one page with the given (default: longest) shared prefix.
size_t packed_size(std::span<const IndexEntry> entries, bool leaf, const Layout& layout,
                   std::optional<size_t> prefix = std::nullopt);
size_t packed_size(std::span<const KeyEntry> entries, bool leaf, const Layout& layout,
                   std::optional<size_t> prefix = std::nullopt);

// Largest entry area one page offers.
size_t index_entry_capacity(const Layout& layout);

// Lays out a whole page (header, bitmask, prefix-compressed entries, free space) as
// Access does; empty when the entries do not fit or the prefix is longer than allowed.
std::vector<uint8_t> write_index_page(const IndexPageSpec& spec, const Layout& layout);

// Marks a missing page in positions (prev, next, tail of a page not yet numbered).
inline constexpr uint32_t kNoPosition = 0xFFFFFFFF;

// The same page from a header (`head.entries` unused) and entries held elsewhere. With
// `numbers`, prev, next, tail and child pointers are positions translated through it
// (kNoPosition becomes 0), for trees laid out before their pages are chosen.
std::vector<uint8_t> write_index_page(const IndexPageSpec& head, std::span<const IndexEntry> entries,
                                      const Layout& layout, const std::vector<uint32_t>* numbers);
std::vector<uint8_t> write_index_page(const IndexPageSpec& head, std::span<const KeyEntry> entries,
                                      const Layout& layout, const std::vector<uint32_t>* numbers);
// The same for pages build_index laid out, into `page` (page_size zero bytes; false, and
// nothing written, when the entries do not fit): their prefix length was measured there,
// so it is taken as one the entries share.
bool write_built_index_page(const IndexPageSpec& head, std::span<const KeyEntry> entries, const Layout& layout,
                            const std::vector<uint32_t>& numbers, std::span<uint8_t> page);
bool write_built_index_page(const IndexPageSpec& head, std::span<const IndexEntry> entries, const Layout& layout,
                            const std::vector<uint32_t>& numbers, std::span<uint8_t> page);

}  // namespace jet
