#pragma once
// What the fuzz targets share: the first byte of a parser target's input picks the page
// layout (even: Jet 3, odd: Jet 4), the rest is the bytes under test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/base/format.h"

namespace fuzz {

struct Input {
    const jet::Layout* layout;
    std::span<const uint8_t> rest;
};

inline Input split_input(const uint8_t* data, size_t size) {
    if (size == 0) return {&jet::kJet4Layout, {}};
    return {(data[0] & 1) ? &jet::kJet4Layout : &jet::kJet3Layout, {data + 1, size - 1}};
}

// The bytes as a file of whole pages, the last one padded with zeros.
inline std::vector<uint8_t> whole_pages(std::span<const uint8_t> bytes, uint32_t page_size) {
    std::vector<uint8_t> file(bytes.begin(), bytes.end());
    file.resize((file.size() + page_size - 1) / page_size * page_size, 0);
    return file;
}

// A file whose page 0 is blank (most parsers never read it) followed by the bytes as whole
// pages, at least `min_pages` of them.
inline std::vector<uint8_t> after_blank_page(std::span<const uint8_t> bytes, uint32_t page_size,
                                             std::size_t min_pages = 0) {
    std::vector<uint8_t> image(page_size, 0);
    std::vector<uint8_t> pages = whole_pages(bytes, page_size);
    pages.resize(std::max(pages.size(), min_pages * page_size), 0);
    image.insert(image.end(), pages.begin(), pages.end());
    return image;
}

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
