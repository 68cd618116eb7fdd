// Page 0: the signature, the masked region and the version probe over the first pages.
#include "fuzz_input.h"
#include "jet/format/header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> prefix(data, size);
    auto result = jet::parse_header(prefix);
    jet::catalog_layout(prefix);
    if (result.header && result.header->layout) {
        // The mask applied twice gives the page back.
        auto page0 = result.header->page0;
        jet::apply_header_mask(page0, *result.header->layout);
        jet::apply_header_mask(page0, *result.header->layout);
        if (page0 != result.header->page0) __builtin_trap();
    }
    return 0;
}
