// A data page (page 1 of a file whose other pages follow it): slot table, row bounds and
// every row decoded as a table of mixed columns, long values read through the file.
#include "fuzz_input.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_header.h"
#include "jet/file/page_file.h"
#include "jet/format/row.h"

namespace {

jet::Column column(const char* name, uint8_t type, uint16_t number, bool fixed, uint16_t place, uint16_t length = 0) {
    jet::Column c;
    c.name = name;
    c.type = c.stored_type = type;
    c.number = number;
    c.flags = fixed ? jet::column_flag::fixed : 0;
    (fixed ? c.fixed_offset : c.var_index) = place;
    c.length = length;
    return c;
}

const jet::TableDef& mixed_table() {
    static const jet::TableDef table = [] {
        jet::TableDef t;
        t.max_cols = t.num_cols = 8;
        t.num_var_cols = 4;
        t.columns = {column("a", jet::data_type::long_integer, 0, true, 0, 4),
                     column("b", jet::data_type::text, 1, false, 0, 50),
                     column("c", jet::data_type::memo, 2, false, 1),
                     column("d", jet::data_type::ole, 3, false, 2),
                     column("e", jet::data_type::decimal, 4, true, 4, 17),
                     column("f", jet::data_type::boolean, 5, false, 0),
                     column("g", jet::data_type::datetime, 6, true, 21, 8),
                     column("h", jet::data_type::binary, 7, false, 3, 255)};
        return t;
    }();
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [layout, rest] = fuzz::split_input(data, size);
    std::vector<uint8_t> image = fuzz::after_blank_page(rest, layout->page_size, 1);
    const jet::PageFile file(std::move(image), layout->page_size);
    const jet::PageRef ref = file.fetch(1);
    const jet::DataPage page(ref.bytes(), *layout);
    jet::validate_data_page(page, 1);
    jet::data_page_header_lost(page.bytes());
    jet::zeroed_row_sectors(page.bytes(), *layout);
    const jet::DecodeContext context{&file, layout, 1252};
    jet::CrackedRow cracked;
    for (uint16_t r = 0; r < page.row_count(); ++r) {
        const auto row = page.row(r);
        jet::crack_row_into(mixed_table(), *layout, row, cracked);
        jet::decode_row(mixed_table(), row, context);
    }
    return 0;
}
