// Every parser of file bytes fed random buffers (fixed seed): no crash, no hang, and
// nothing read outside the buffer (the sanitize preset checks the last part).
#include <gtest/gtest.h>

#include <random>

#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/format/long_value.h"
#include "jet/file/page_file.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "row_builder.h"

namespace {

std::vector<uint8_t> random_bytes(std::mt19937& random, size_t size) {
    std::vector<uint8_t> b(size);
    for (auto& x : b) x = uint8_t(random());
    return b;
}

TEST(RandomInput, ParsersSurviveNoise) {
    std::mt19937 random(4242);
    for (const jet::Layout* layout : {&jet::kJet3Layout, &jet::kJet4Layout}) {
        // A small file of noisy pages, some typed like data, TDEF and map pages.
        std::vector<uint8_t> image = random_bytes(random, size_t(layout->page_size) * 16);
        for (size_t p = 1; p < 16; ++p) {
            image[p * layout->page_size] = uint8_t(p % 6);
            image[p * layout->page_size + 1] = 0x01;
            if (p % 3 == 0) {
                image[p * layout->page_size + 4] = 'L';
                image[p * layout->page_size + 5] = 'V';
                image[p * layout->page_size + 6] = 'A';
                image[p * layout->page_size + 7] = 'L';
            }
        }
        jet::PageFile file(image, layout->page_size);
        jet::TableDef table;
        table.max_cols = 6;
        table.num_var_cols = 3;
        table.columns = {test::column("a", jet::data_type::long_integer, 0, true, 0),
                         test::column("b", jet::data_type::text, 1, false, 0, 50),
                         test::column("c", jet::data_type::memo, 2, false, 1),
                         test::column("d", jet::data_type::ole, 3, false, 2),
                         test::column("e", jet::data_type::decimal, 4, true, 4),
                         test::column("f", jet::data_type::boolean, 5, false, 0)};
        jet::DecodeContext context{&file, layout, 1252};
        for (int i = 0; i < 3000; ++i) {
            auto noise = random_bytes(random, size_t(random() % 700));
            jet::parse_header(noise);
            jet::parse_table_def(noise, *layout, 1252);
            jet::parse_usage_map(noise, file, *layout);
            jet::read_long_value(file, *layout, noise);
            auto decoded = jet::decode_row(table, noise, context);
            if (decoded.usable) {
                EXPECT_EQ(decoded.values.size(), table.columns.size());
            }
        }
        for (uint32_t p = 0; p < 17; ++p) {
            jet::DataPage page(file.page(p), *layout);
            jet::validate_data_page(page, p);
            for (uint16_t r = 0; r < page.row_count(); ++r) jet::decode_row(table, page.row(r), context);
            jet::read_table_def(file, *layout, p, 1252);
            jet::read_usage_map(file, *layout, (p << 8) | (random() % 4));
        }
    }
}

}  // namespace
