// A table definition: its chain of pages from page 0 of the input, and the same bytes
// parsed as one logical buffer; the sections of what parses are located again.
#include "fuzz_input.h"
#include "jet/file/page_file.h"
#include "jet/format/table_def.h"
#include "jet/format/table_def_sections.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [layout, rest] = fuzz::split_input(data, size);
    auto pages = fuzz::whole_pages(rest, layout->page_size);
    if (pages.empty()) return 0;
    const jet::PageFile file(std::move(pages), layout->page_size);
    for (uint16_t code_page : {uint16_t(1252), uint16_t(0)}) {
        auto chained = jet::read_table_def(file, *layout, 0, code_page);
        if (chained.table) jet::table_def_sections(*chained.table, *layout);
    }
    auto parsed = jet::parse_table_def(rest, *layout, 1252);
    if (parsed.table) jet::table_def_sections(*parsed.table, *layout);
    return 0;
}
