#include "regressions.h"

#include <cstring>
#include <string_view>

#include "jet/base/format.h"

namespace fuzz {
namespace {

constexpr uint32_t kPage = 4096;  // Jet 4 inputs (selector byte 1)

void put32(Seed& s, size_t at, uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) s[at + i] = uint8_t(v >> (8 * i));
}
void put16(Seed& s, size_t at, uint16_t v) {
    if (s.size() < at + 2) s.resize(at + 2, 0);
    s[at] = uint8_t(v), s[at + 1] = uint8_t(v >> 8);
}

// A Jet 4 data page at `at` (input offset) whose one row is `row`, packed at the page end.
void data_page(Seed& s, size_t at, uint32_t owner, std::string_view row) {
    s.resize(std::max(s.size(), at + kPage), 0);
    s[at] = jet::page_type::data, s[at + 1] = 0x01;
    put32(s, at + 4, owner);
    put16(s, at + jet::kJet4Layout.data_row_count, 1);
    const size_t start = kPage - row.size();
    put16(s, at + jet::kJet4Layout.data_header_size, uint16_t(start));
    std::memcpy(s.data() + at + start, row.data(), row.size());
}

// Structures that point back at themselves, each the smallest its target reads.
std::vector<Seed> loops(std::string_view target) {
    if (target == "table_def") {  // page 0 continues on page 1, page 1 on itself
        Seed s{1};
        for (uint32_t p = 0; p < 2; ++p) {
            s.resize(1 + (p + 1) * kPage, 0);
            s[1 + p * kPage] = jet::page_type::table_def, s[2 + p * kPage] = 0x01;
            put32(s, 1 + p * kPage + 4, 1);
        }
        put32(s, 1 + 8, 0xFFFF);  // tdef_len
        return {s};
    }
    if (target == "long_value") {  // a chain whose one row names itself, claiming 1 GB
        Seed s{1};
        put32(s, 1, 0x3FFFFFFFu);
        put32(s, 5, 1u << 8);
        put32(s, 9, 0);
        data_page(s, 13, 0x4C41564C, std::string_view("\x00\x01\x00\x00" "data", 8));
        return {s};
    }
    if (target == "index_page") {  // an intermediate page whose tail is itself
        Seed s{1};
        s.resize(1 + kPage, 0);
        s[1] = jet::page_type::index_node, s[2] = 0x01;
        put32(s, 1 + 4, 7);
        put32(s, 1 + 0x14, 1);  // tail
        return {s};
    }
    if (target == "usage_map") {  // a reference map whose map page is its own page
        Seed s{1};
        put32(s, 1, 1u << 8);
        data_page(s, 5, 0, std::string_view("\x01\x01\x00\x00\x00\x01\x00\x00\x00", 9));
        return {s};
    }
    return {};
}

}  // namespace

std::vector<Seed> regression_inputs(std::string_view target) { return loops(target); }

}  // namespace fuzz
