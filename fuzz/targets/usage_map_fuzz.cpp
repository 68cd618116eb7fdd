// A usage map: the row pointer (4 bytes) from the input, the pages from page 1 on (page 0
// is left empty as in a real file); also the remaining bytes read as a map row.
#include "fuzz_input.h"
#include "jet/base/bytes.h"
#include "jet/file/page_file.h"
#include "jet/format/usage_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [layout, rest] = fuzz::split_input(data, size);
    if (rest.size() < 4) return 0;
    const uint32_t pointer = jet::u32_at(rest, 0);
    const auto body = rest.subspan(4);
    std::vector<uint8_t> image = fuzz::after_blank_page(body, layout->page_size);
    const jet::PageFile file(std::move(image), layout->page_size);
    auto map = jet::read_usage_map(file, *layout, pointer);
    for (size_t i = 1; i < map.pages.size(); ++i)
        if (map.pages[i - 1] >= map.pages[i]) __builtin_trap();
    jet::parse_usage_map(body.first(std::min<size_t>(body.size(), 600)), file, *layout);
    return 0;
}
