#pragma once
// Builds synthetic pages and rows for engine tests.
#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/format.h"

namespace test {

inline void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void append16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void append32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A data page with rows packed against the page end in slot order, as Access writes.
struct DataPageBuilder {
    const jet::Layout& layout;
    uint32_t owner;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint16_t> flags;

    DataPageBuilder& add(std::vector<uint8_t> row, uint16_t flag = 0) {
        rows.push_back(std::move(row));
        flags.push_back(flag);
        return *this;
    }

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> page(layout.page_size, 0);
        page[0] = jet::page_type::data;
        page[1] = 0x01;
        put32(page, 4, owner);
        put16(page, layout.data_row_count, uint16_t(rows.size()));
        size_t end = layout.page_size;
        size_t used = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            size_t start = end - rows[i].size();
            std::copy(rows[i].begin(), rows[i].end(), page.begin() + long(start));
            put16(page, layout.data_header_size + 2 * i, uint16_t(start | flags[i]));
            end = start;
            used += rows[i].size();
        }
        put16(page, 2, uint16_t(layout.page_size - layout.data_header_size - 2 * rows.size() - used));
        return page;
    }
};

// A file image of whole pages.
struct FileImage {
    const jet::Layout& layout;
    std::vector<uint8_t> bytes;
    explicit FileImage(const jet::Layout& l, uint32_t pages) : layout(l), bytes(size_t(pages) * l.page_size, 0) {}
    void set_page(uint32_t n, const std::vector<uint8_t>& page) {
        if (bytes.size() < size_t(n + 1) * layout.page_size) bytes.resize(size_t(n + 1) * layout.page_size, 0);
        std::copy(page.begin(), page.end(), bytes.begin() + long(size_t(n) * layout.page_size));
    }
};

}  // namespace test
