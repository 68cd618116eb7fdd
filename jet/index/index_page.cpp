#include "jet/index/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <string>

#include "jet/base/byte_runs.h"

namespace jet {
namespace {

constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildPointerSize = 4;

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void add_issue(IndexPage& page, IndexPageIssueKind kind, std::string detail) {
    page.issues.push_back({kind, std::move(detail)});
}

// Usable entry area: limited by the bitmask and by the page end.
size_t entry_area(const Layout& layout) {
    size_t mask_bits = (layout.ix_first_entry - layout.ix_bitmask) * 8;
    return std::min<size_t>(mask_bits, layout.page_size - layout.ix_first_entry);
}

// One entry as stored in full, split into its parts; the key views the entry's bytes.
struct EntryParts {
    std::span<const uint8_t> key;
    RowPointer row;
    uint32_t child = 0;
};

bool decode_entry(const std::vector<uint8_t>& bytes, bool leaf, EntryParts& out) {
    size_t tail = kRowPointerSize + (leaf ? 0 : kChildPointerSize);
    if (bytes.size() < tail) return false;
    size_t key_len = bytes.size() - tail;
    out.key = {bytes.data(), key_len};
    const uint8_t* p = bytes.data() + key_len;
    out.row.page = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    out.row.row = p[3];
    out.child = leaf ? 0 : be32(p + kRowPointerSize);
    return true;
}


// Byte i of an entry as stored in full (key, 3-byte row page, row byte, child).
template <class E>
uint8_t entry_byte(const E& e, size_t i) {
    if (i < e.key.size()) return e.key[i];
    i -= e.key.size();
    if (i < 3) return static_cast<uint8_t>(e.row.page >> (8 * (2 - i)));
    if (i == 3) return e.row.row;
    return static_cast<uint8_t>(e.child >> (8 * (7 - i)));
}

void put_be32(uint8_t* out, uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    std::memcpy(out, &v, 4);
}

// Writes the entry's bytes from `skip` on at `out`; returns how many.
template <class E>
size_t put_entry(const E& e, uint32_t child, bool leaf, size_t skip, uint8_t* out) {
    const size_t key = e.key.size();
    const size_t tail_size = leaf ? kRowPointerSize : kRowPointerSize + kChildPointerSize;
    if (skip <= key) {  // the usual case: the prefix ends within the key
        const size_t n = key - skip;
        copy_short(out, e.key.data() + skip, n);
        put_be32(out + n, (e.row.page << 8) | e.row.row);  // 3-byte page, then row
        if (!leaf) put_be32(out + n + kRowPointerSize, child);
        return n + tail_size;
    }
    const uint8_t tail[8] = {static_cast<uint8_t>(e.row.page >> 16), static_cast<uint8_t>(e.row.page >> 8),
                             static_cast<uint8_t>(e.row.page), e.row.row,
                             static_cast<uint8_t>(child >> 24), static_cast<uint8_t>(child >> 16),
                             static_cast<uint8_t>(child >> 8), static_cast<uint8_t>(child)};
    const size_t tail_skip = skip - key;
    if (tail_skip >= tail_size) return 0;
    for (size_t i = tail_skip; i < tail_size; ++i) out[i - tail_skip] = tail[i];
    return tail_size - tail_skip;
}

template <class E>
size_t entry_size(const E& e, bool leaf) {
    return e.key.size() + kRowPointerSize + (leaf ? 0 : kChildPointerSize);
}

template <class E>
size_t prefix_of(std::span<const E> entries, const Layout& layout) {
    // The prefix never reaches the row byte, so never the child pointer either.
    if (entries.size() < 2) return 0;
    const E& first = entries.front();
    size_t limit = first.key.size() + 3;  // never into the row byte
    limit = std::min(limit, layout.jet3 ? size_t{0xFF} : size_t{0xFFFF});
    for (size_t i = 1; i < entries.size() && limit > 0; ++i) {
        const E& other = entries[i];
        const size_t max = std::min(limit, other.key.size() + 3);
        const size_t keys = std::min({max, first.key.size(), other.key.size()});
        size_t n = common_length(first.key.data(), other.key.data(), keys);
        if (n == keys)
            while (n < max && entry_byte(first, n) == entry_byte(other, n)) ++n;
        limit = n;
    }
    return limit;
}

template <class E>
size_t packed_of(std::span<const E> entries, bool leaf, const Layout& layout, std::optional<size_t> chosen) {
    size_t prefix = chosen.value_or(prefix_of(entries, layout));
    size_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) total += entry_size(entries[i], leaf) - (i == 0 ? 0 : prefix);
    return total;
}

// The prefix to store, or nullopt when the entries do not share the one asked for.
template <class E>
std::optional<size_t> checked_prefix(const IndexPageSpec& head, std::span<const E> entries, const Layout& layout) {
    const size_t longest = prefix_of(entries, layout);
    const size_t prefix = head.prefix_length.value_or(longest);
    if (prefix > longest) return std::nullopt;
    return prefix;
}

// Whether the entries fit the page with `prefix` cut from all but the first.
template <class E>
bool fits_page(std::span<const E> entries, bool leaf, const Layout& layout, size_t prefix) {
    size_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t size = entry_size(entries[i], leaf), cut = i == 0 ? 0 : prefix;
        if (cut > size) return false;
        total += size - cut;
    }
    return total <= entry_area(layout);
}

// Into `page`, page_size zero bytes; false, with nothing written, when the entries do not
// fit. `known_prefix`: one the caller measured the entries share (build_index's layout).
template <class E>
bool write_page_into(const IndexPageSpec& head, std::span<const E> entries, const Layout& layout,
                     const std::vector<uint32_t>* numbers, std::optional<size_t> known_prefix, std::span<uint8_t> page) {
    auto real = [&](uint32_t n) -> uint32_t {
        if (!numbers) return n;
        return n == kNoPosition ? 0 : numbers->at(n);
    };
    const std::optional<size_t> checked = known_prefix ? known_prefix : checked_prefix(head, entries, layout);
    if (page.size() != layout.page_size || !checked || !fits_page(entries, head.leaf, layout, *checked)) return false;
    const size_t prefix = *checked;
    page[0] = head.leaf ? page_type::index_leaf : page_type::index_node;
    page[1] = 0x01;
    put_u32(page, 4, head.owner);
    put_u32(page, layout.ix_prev_page, real(head.prev));
    put_u32(page, layout.ix_next_page, real(head.next));
    put_u32(page, layout.ix_tail_page, real(head.tail));
    if (layout.jet3)
        page[layout.ix_prefix_length] = static_cast<uint8_t>(prefix);
    else
        put_u16(page, layout.ix_prefix_length, static_cast<uint16_t>(prefix));
    // Access marks intermediate pages in the byte after the prefix length.
    page[layout.ix_prefix_length + (layout.jet3 ? 1 : 2)] = head.leaf ? 0x00 : 0x01;
    size_t end = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint32_t child = head.leaf ? 0 : real(entries[i].child);
        end += put_entry(entries[i], child, head.leaf, i == 0 ? 0 : prefix, page.data() + layout.ix_first_entry + end);
        page[layout.ix_bitmask + end / 8] |= static_cast<uint8_t>(1u << (end % 8));
    }
    put_u16(page, 2, static_cast<uint16_t>(layout.page_size - layout.ix_first_entry - end));
    return true;
}

template <class E>
std::vector<uint8_t> write_page(const IndexPageSpec& head, std::span<const E> entries, const Layout& layout,
                                const std::vector<uint32_t>* numbers, std::optional<size_t> known_prefix = {}) {
    std::vector<uint8_t> page(layout.page_size, 0);
    if (!write_page_into(head, entries, layout, numbers, known_prefix, page)) return {};
    return page;
}

}  // namespace

size_t index_entry_capacity(const Layout& layout) { return entry_area(layout); }

size_t shared_prefix_length(std::span<const IndexEntry> entries, bool, const Layout& layout) {
    return prefix_of(entries, layout);
}
size_t shared_prefix_length(std::span<const KeyEntry> entries, bool, const Layout& layout) {
    return prefix_of(entries, layout);
}

size_t packed_size(std::span<const IndexEntry> entries, bool leaf, const Layout& layout,
                   std::optional<size_t> chosen) {
    return packed_of(entries, leaf, layout, chosen);
}
size_t packed_size(std::span<const KeyEntry> entries, bool leaf, const Layout& layout, std::optional<size_t> chosen) {
    return packed_of(entries, leaf, layout, chosen);
}

std::vector<uint8_t> write_index_page(const IndexPageSpec& spec, const Layout& layout) {
    return write_page<IndexEntry>(spec, spec.entries, layout, nullptr);
}

std::vector<uint8_t> write_index_page(const IndexPageSpec& head, std::span<const IndexEntry> entries,
                                      const Layout& layout, const std::vector<uint32_t>* numbers) {
    return write_page(head, entries, layout, numbers);
}
std::vector<uint8_t> write_index_page(const IndexPageSpec& head, std::span<const KeyEntry> entries,
                                      const Layout& layout, const std::vector<uint32_t>* numbers) {
    return write_page(head, entries, layout, numbers);
}
bool write_built_index_page(const IndexPageSpec& head, std::span<const KeyEntry> entries, const Layout& layout,
                            const std::vector<uint32_t>& numbers, std::span<uint8_t> page) {
    // Without a prefix length it is measured (and checked) as for any page.
    return write_page_into(head, entries, layout, &numbers, head.prefix_length, page);
}
bool write_built_index_page(const IndexPageSpec& head, std::span<const IndexEntry> entries, const Layout& layout,
                            const std::vector<uint32_t>& numbers, std::span<uint8_t> page) {
    return write_page_into(head, entries, layout, &numbers, head.prefix_length, page);
}

int compare_entries(std::span<const uint8_t> a_key, RowPointer a_row, std::span<const uint8_t> b_key, RowPointer b_row) {
    const size_t common = std::min(a_key.size(), b_key.size());
    if (int c = common ? std::memcmp(a_key.data(), b_key.data(), common) : 0; c != 0) return c < 0 ? -1 : 1;
    if (a_key.size() != b_key.size()) return a_key.size() < b_key.size() ? -1 : 1;
    if (a_row.page != b_row.page) return a_row.page < b_row.page ? -1 : 1;
    if (a_row.row != b_row.row) return a_row.row < b_row.row ? -1 : 1;
    return 0;
}

int compare_entries(const IndexEntry& a, const IndexEntry& b) { return compare_entries(a.key, a.row, b.key, b.row); }

size_t stored_entry_size(const IndexEntry& e, bool leaf) { return entry_size(e, leaf); }
size_t stored_entry_size(const KeyEntry& e, bool leaf) {
    return entry_size(e, leaf);
}

namespace {
void parse_page(Bytes page, const Layout& layout, const IndexEntryTaker& take, IndexPage& out);
}  // namespace

IndexPage parse_index_page(Bytes page, const Layout& layout) {
    IndexPage out;
    std::vector<IndexEntry>* entries = &out.entries;  // out moves only when returned
    parse_page(page, layout, [&](std::span<const uint8_t> key, RowPointer row, uint32_t child) {
        entries->push_back({KeyBytes(key), row, child});
    }, out);
    return out;
}

IndexPage parse_index_page(Bytes page, const Layout& layout, const IndexEntryTaker& take) {
    IndexPage out;
    parse_page(page, layout, take, out);
    return out;
}

namespace {

void parse_page(Bytes page, const Layout& layout, const IndexEntryTaker& take, IndexPage& out) {
    if (page.size() < layout.page_size || page.size() < layout.ix_first_entry) {
        add_issue(out, IndexPageIssueKind::Truncated, "la página de índice está incompleta");
        return;
    }
    out.type = page[0];
    if (out.type != page_type::index_node && out.type != page_type::index_leaf) {
        add_issue(out, IndexPageIssueKind::WrongType,
                  "la página no es una página de índice (tipo " + std::to_string(out.type) + ")");
        return;
    }
    out.leaf = out.type == page_type::index_leaf;
    out.free_space = u16_at(page, 2);
    out.owner = u32_at(page, 4);
    out.prev = u32_at(page, layout.ix_prev_page);
    out.next = u32_at(page, layout.ix_next_page);
    out.tail = u32_at(page, layout.ix_tail_page);
    // Jet 3 keeps the prefix length in one byte; the next byte marks intermediate pages.
    out.prefix_length = layout.jet3 ? u8_at(page, layout.ix_prefix_length)
                                    : u16_at(page, layout.ix_prefix_length);
    if (out.leaf && out.tail != 0)
        add_issue(out, IndexPageIssueKind::TailOnLeaf, "una hoja del índice tiene página de cola");

    const size_t area = entry_area(layout);
    const size_t mask_len = layout.ix_first_entry - layout.ix_bitmask;
    const uint8_t* first = page.data() + layout.ix_first_entry;
    std::vector<uint8_t> prefix;
    std::vector<uint8_t> bytes;     // one entry in full, reused
    std::vector<uint8_t> previous;  // the entry before it, for the order check
    EntryParts last;
    size_t taken = 0;
    size_t start = 0;
    bool have_first = false;
    for (size_t i = 0; i < mask_len; ++i) {
        for (unsigned mask = page[layout.ix_bitmask + i]; mask; mask &= mask - 1) {
            const size_t end = i * 8 + static_cast<size_t>(std::countr_zero(mask));
            if (end > area) {
                add_issue(out, IndexPageIssueKind::EntryOutsidePage,
                          "una entrada del índice termina fuera de la página");
                i = mask_len;  // stop: nothing after this can be trusted
                break;
            }
            bytes.clear();
            if (have_first) bytes.assign(prefix.begin(), prefix.end());
            bytes.insert(bytes.end(), first + start, first + end);
            if (!have_first) {
                have_first = true;
                if (out.prefix_length > bytes.size()) {
                    add_issue(out, IndexPageIssueKind::PrefixTooLong,
                              "el prefijo común es más largo que la primera entrada");
                    prefix = bytes;
                } else {
                    prefix.assign(bytes.begin(), bytes.begin() + out.prefix_length);
                }
            }
            start = end;
            EntryParts entry;
            if (!decode_entry(bytes, out.leaf, entry)) {
                add_issue(out, IndexPageIssueKind::EntryTooShort,
                          "una entrada del índice es demasiado corta");
                continue;
            }
            if (taken++ && compare_entries(last.key, last.row, entry.key, entry.row) >= 0)
                add_issue(out, IndexPageIssueKind::OutOfOrder,
                          "las entradas del índice no están en orden");
            take(entry.key, entry.row, entry.child);
            bytes.swap(previous);  // `entry` views what is now `previous`
            last = entry;
        }
    }
    out.data_end = start;
    size_t expected_free = layout.page_size - layout.ix_first_entry - out.data_end;
    if (out.free_space != expected_free)
        add_issue(out, IndexPageIssueKind::FreeSpace,
                  "el espacio libre anotado en la página de índice no coincide");
}

}  // namespace

}  // namespace jet
