#include "jet/index_page.h"

#include <algorithm>
#include <string>

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

bool decode_entry(const std::vector<uint8_t>& bytes, bool leaf, IndexEntry& out) {
    size_t tail = kRowPointerSize + (leaf ? 0 : kChildPointerSize);
    if (bytes.size() < tail) return false;
    size_t key_len = bytes.size() - tail;
    out.key.assign(bytes.begin(), bytes.begin() + key_len);
    const uint8_t* p = bytes.data() + key_len;
    out.row.page = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    out.row.row = p[3];
    out.child = leaf ? 0 : be32(p + kRowPointerSize);
    return true;
}

}  // namespace

int compare_entries(const IndexEntry& a, const IndexEntry& b) {
    if (auto c = std::lexicographical_compare_three_way(a.key.begin(), a.key.end(), b.key.begin(),
                                                        b.key.end());
        c != 0)
        return c < 0 ? -1 : 1;
    if (a.row.page != b.row.page) return a.row.page < b.row.page ? -1 : 1;
    if (a.row.row != b.row.row) return a.row.row < b.row.row ? -1 : 1;
    return 0;
}

size_t stored_entry_size(const IndexEntry& e, bool leaf) {
    return e.key.size() + kRowPointerSize + (leaf ? 0 : kChildPointerSize);
}

IndexPage parse_index_page(Bytes page, const Layout& layout) {
    IndexPage out;
    if (page.size() < layout.page_size || page.size() < layout.ix_first_entry) {
        add_issue(out, IndexPageIssueKind::Truncated, "la página de índice está incompleta");
        return out;
    }
    out.type = page[0];
    if (out.type != page_type::index_node && out.type != page_type::index_leaf) {
        add_issue(out, IndexPageIssueKind::WrongType,
                  "la página no es una página de índice (tipo " + std::to_string(out.type) + ")");
        return out;
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
    size_t start = 0;
    bool have_first = false;
    for (size_t i = 0; i < mask_len; ++i) {
        uint8_t mask = page[layout.ix_bitmask + i];
        for (unsigned bit = 0; mask && bit < 8; ++bit) {
            if (!(mask & (1u << bit))) continue;
            size_t end = i * 8 + bit;
            if (end > area) {
                add_issue(out, IndexPageIssueKind::EntryOutsidePage,
                          "una entrada del índice termina fuera de la página");
                i = mask_len;  // stop: nothing after this can be trusted
                break;
            }
            std::vector<uint8_t> bytes;
            if (have_first) bytes = prefix;
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
            IndexEntry entry;
            if (!decode_entry(bytes, out.leaf, entry)) {
                add_issue(out, IndexPageIssueKind::EntryTooShort,
                          "una entrada del índice es demasiado corta");
                continue;
            }
            if (!out.entries.empty() && compare_entries(out.entries.back(), entry) >= 0)
                add_issue(out, IndexPageIssueKind::OutOfOrder,
                          "las entradas del índice no están en orden");
            out.entries.push_back(std::move(entry));
        }
    }
    out.data_end = start;
    size_t expected_free = layout.page_size - layout.ix_first_entry - out.data_end;
    if (out.free_space != expected_free)
        add_issue(out, IndexPageIssueKind::FreeSpace,
                  "el espacio libre anotado en la página de índice no coincide");
    return out;
}

}  // namespace jet
