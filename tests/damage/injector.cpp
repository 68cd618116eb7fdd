#include "injector.h"

#include <algorithm>

namespace damage {

namespace {

uint16_t u16(const std::vector<uint8_t>& f, std::size_t at) {
    return at + 2 <= f.size() ? static_cast<uint16_t>(f[at] | f[at + 1] << 8) : 0;
}
uint32_t u32(const std::vector<uint8_t>& f, std::size_t at) {
    return at + 4 <= f.size() ? uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 |
                                    uint32_t(f[at + 3]) << 24
                              : 0;
}
void put16(std::vector<uint8_t>& f, std::size_t at, uint16_t v) {
    f[at] = static_cast<uint8_t>(v);
    f[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& f, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t page_count(const std::vector<uint8_t>& f) { return static_cast<uint32_t>(f.size() / layout_of(f).page_size); }
std::size_t page_at(const std::vector<uint8_t>& f, uint32_t page) { return std::size_t(page) * layout_of(f).page_size; }

// Data-page header: row count and the start of the row-offset table.
std::size_t row_count_offset(const Layout& l) { return l.jet3 ? 0x08 : 0x0C; }
std::size_t row_table_offset(const Layout& l) { return l.jet3 ? 0x0A : 0x0E; }

bool is_lval(const std::vector<uint8_t>& f, uint32_t page) {
    const std::size_t at = page_at(f, page);
    return f[at] == 0x01 && f[at + 4] == 'L' && f[at + 5] == 'V' && f[at + 6] == 'A' && f[at + 7] == 'L';
}

std::optional<std::string> fill_page(std::vector<uint8_t>& f, uint32_t page, std::size_t from, bool garbage,
                                     uint32_t seed) {
    if (page >= page_count(f)) return std::nullopt;
    const std::size_t size = layout_of(f).page_size;
    uint32_t state = seed ? seed : 1;
    for (std::size_t i = from; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        f[page_at(f, page) + i] = garbage ? static_cast<uint8_t>(state) : 0;
    }
    return "page " + std::to_string(page) + " bytes " + std::to_string(from) + ".." + std::to_string(size);
}

}  // namespace

const char* kind_name(Kind kind) {
    switch (kind) {
    case Kind::ZeroPage: return "zero-page";
    case Kind::GarbagePage: return "garbage-page";
    case Kind::TearPageTail: return "tear-page-tail";
    case Kind::TruncateMidPage: return "truncate-mid-page";
    case Kind::TruncateAtPage: return "truncate-at-page";
    case Kind::TruncateHalf: return "truncate-half";
    case Kind::TornAppend: return "torn-append";
    case Kind::StaleRowCount: return "stale-row-count";
    case Kind::CommitSlotsBusy: return "commit-slots-busy";
    case Kind::FlipMapBit: return "flip-map-bit";
    case Kind::BreakLvChain: return "break-lv-chain";
    case Kind::RowOffsetOutside: return "row-offset-outside";
    }
    return "?";
}

Layout layout_of(const std::vector<uint8_t>& file) {
    const bool jet3 = file.size() > 0x14 && file[0x14] == 0x00;
    return Layout{jet3 ? 2048u : 4096u, jet3};
}

std::optional<uint32_t> first_user_table_def(const std::vector<uint8_t>& f) {
    const Layout l = layout_of(f);
    const std::size_t rows_at = l.jet3 ? 0x0C : 0x10;
    const std::size_t type_at = l.jet3 ? 0x14 : 0x28;
    for (uint32_t p = 3; p < page_count(f); ++p) {
        const std::size_t at = page_at(f, p);
        if (f[at] != 0x02 || f[at + 1] != 0x01) continue;
        if (l.jet3 ? (f[at + 2] != 'V' || f[at + 3] != 'C') : u32(f, at + 0x0C) != 0x0659) continue;
        if (f[at + type_at] != 'N' || u32(f, at + rows_at) == 0) continue;
        return p;
    }
    return std::nullopt;
}

std::optional<uint32_t> first_lval_page(const std::vector<uint8_t>& f) {
    for (uint32_t p = 3; p < page_count(f); ++p)
        if (is_lval(f, p)) return p;
    return std::nullopt;
}

std::optional<uint32_t> first_data_page_with_rows(const std::vector<uint8_t>& f) {
    const auto table = first_user_table_def(f);
    if (!table) return std::nullopt;
    const Layout l = layout_of(f);
    for (uint32_t p = 3; p < page_count(f); ++p) {
        const std::size_t at = page_at(f, p);
        if (f[at] == 0x01 && u32(f, at + 4) == *table && u16(f, at + row_count_offset(l)) > 0) return p;
    }
    return std::nullopt;
}

std::optional<std::string> apply(std::vector<uint8_t>& f, const Damage& d) {
    if (f.size() < 4096) return std::nullopt;
    const Layout l = layout_of(f);
    switch (d.kind) {
    case Kind::ZeroPage: return fill_page(f, d.page, 0, false, 0);
    case Kind::GarbagePage: return fill_page(f, d.page, 0, true, d.seed);
    case Kind::TearPageTail: return fill_page(f, d.page, l.page_size / 2, false, 0);
    case Kind::TruncateMidPage:
        f.resize(f.size() - l.page_size / 2);
        return "file cut to " + std::to_string(f.size()) + " bytes";
    case Kind::TruncateAtPage:
    case Kind::TruncateHalf: {
        const uint32_t pages = page_count(f);
        const uint32_t share = d.kind == Kind::TruncateHalf ? 2 : 8;
        const uint32_t cut = d.value != 0 ? d.value : std::max<uint32_t>(1, pages / share);
        if (cut + 3 > pages) return std::nullopt;  // page 0, the global map and the catalog stay
        f.resize(std::size_t(pages - cut) * l.page_size);
        return "last " + std::to_string(cut) + " of " + std::to_string(pages) + " pages cut";
    }
    case Kind::TornAppend: {
        uint32_t state = d.seed ? d.seed : 1;
        for (uint32_t i = 0; i < l.page_size / 2; ++i) {
            state = state * 1103515245u + 12345u;
            f.push_back(static_cast<uint8_t>(state >> 16));
        }
        return "file grown to " + std::to_string(f.size()) + " bytes";
    }
    case Kind::StaleRowCount: {
        const auto table = d.page != 0 ? std::optional<uint32_t>(d.page) : first_user_table_def(f);
        if (!table) return std::nullopt;
        const std::size_t at = page_at(f, *table) + (l.jet3 ? 0x0C : 0x10);
        const uint32_t stored = u32(f, at);
        const uint32_t value = d.value != 0 ? d.value : stored + 7;
        put32(f, at, value);
        return "table at page " + std::to_string(*table) + " row count " + std::to_string(stored) + " -> " +
               std::to_string(value);
    }
    case Kind::CommitSlotsBusy: {
        if (!l.jet3) return std::nullopt;
        for (std::size_t slot = 0; slot < 4; ++slot) put16(f, 0x600 + 2 * slot, slot < 2 ? 0xFFFF : 0x0104);
        return "commit slots 0-3 busy";
    }
    case Kind::FlipMapBit: {
        const uint32_t target = d.page != 0 ? d.page : first_user_table_def(f).value_or(2);
        const std::size_t page1 = page_at(f, 1);
        if (f[page1] != 0x01 || u16(f, page1 + row_count_offset(l)) == 0) return std::nullopt;
        const std::size_t row = page1 + (u16(f, page1 + row_table_offset(l)) & 0x1FFF);
        const std::size_t end = page1 + l.page_size;
        if (row + 5 > end || f[row] != 0x00) return std::nullopt;
        const uint32_t start = u32(f, row + 1);
        if (target < start || (target - start) / 8 >= end - row - 5) return std::nullopt;
        const std::size_t byte = row + 5 + (target - start) / 8;
        f[byte] ^= static_cast<uint8_t>(1u << ((target - start) % 8));
        return "global map bit of page " + std::to_string(target) + " flipped";
    }
    case Kind::BreakLvChain: {
        // `page`/`value`, when given, name the chain row to break.
        for (uint32_t p = d.page != 0 ? d.page : 3; p < page_count(f) && (d.page == 0 || p == d.page); ++p) {
            if (!is_lval(f, p)) continue;
            const std::size_t at = page_at(f, p);
            const uint16_t rows = u16(f, at + row_count_offset(l));
            for (uint16_t r = d.page != 0 ? uint16_t(d.value) : 0; r < rows && (d.page == 0 || r == d.value); ++r) {
                const uint16_t slot = u16(f, at + row_table_offset(l) + 2 * r);
                if (slot & 0xC000) continue;
                const std::size_t row = at + (slot & 0x1FFF);
                const uint32_t next = u32(f, row);
                const uint32_t next_page = next >> 8;
                if (next == 0 || next_page >= page_count(f) || !is_lval(f, next_page)) continue;
                put32(f, row, (next & 0xFF) | 0xFFFFFF00u);
                return "long-value chain row " + std::to_string(r) + " of page " + std::to_string(p) +
                       " points past the file";
            }
        }
        return std::nullopt;
    }
    case Kind::RowOffsetOutside: {
        const auto page = d.page != 0 ? std::optional<uint32_t>(d.page) : first_data_page_with_rows(f);
        if (!page) return std::nullopt;
        const std::size_t at = page_at(f, *page);
        const uint16_t rows = u16(f, at + row_count_offset(l));
        for (uint16_t i = 0; i < rows; ++i) {
            const uint16_t r = static_cast<uint16_t>((d.value + i) % rows);
            const std::size_t slot = at + row_table_offset(l) + 2 * r;
            if (u16(f, slot) & 0xC000) continue;
            put16(f, slot, 0x1FFF);
            return "row " + std::to_string(r) + " of page " + std::to_string(*page) + " starts past the page";
        }
        return std::nullopt;
    }
    }
    return std::nullopt;
}

}  // namespace damage
