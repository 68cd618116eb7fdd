// Index pages: every page of the input parsed alone, then the tree walked from page 1
// (page 0 is left empty as in a real file), as its reader and as the page lister.
#include "fuzz_input.h"
#include "jet/base/bytes.h"
#include "jet/index/index.h"
#include "jet/index/index_page.h"
#include "jet/file/page_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [layout, rest] = fuzz::split_input(data, size);
    std::vector<uint8_t> image = fuzz::after_blank_page(rest, layout->page_size, 1);
    const jet::PageFile file(std::move(image), layout->page_size);
    for (uint32_t p = 1; p < file.page_count(); ++p) {
        const jet::PageRef ref = file.fetch(p);
        jet::parse_index_page(ref.bytes(), *layout);
    }
    const jet::PageRef root = file.fetch(1);
    const uint32_t owner = jet::u32_at(root.bytes(), 4);
    jet::read_index_tree(file, *layout, 1, owner);
    jet::index_tree_pages(file, *layout, 1);
    return 0;
}
