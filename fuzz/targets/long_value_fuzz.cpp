// A memo / OLE value: the 12-byte field from the input, the LVAL pages it names from
// page 1 on (page 0 is left empty as in a real file).
#include "fuzz_input.h"
#include "jet/format/long_value.h"
#include "jet/file/page_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [layout, rest] = fuzz::split_input(data, size);
    const size_t field_size = std::min(rest.size(), jet::kLongValueDefinitionSize);
    std::vector<uint8_t> image = fuzz::after_blank_page(rest.subspan(field_size), layout->page_size);
    const jet::PageFile file(std::move(image), layout->page_size);
    const auto field = rest.first(field_size);
    jet::LongValueDefinition definition;
    jet::parse_long_value_definition(field, definition);
    auto value = jet::read_long_value(file, *layout, field);
    if (value.complete && value.data.size() != (definition.length & jet::kLongValueLengthMask)) __builtin_trap();
    return 0;
}
