// parsed_end() walks a definition's counts and length fields alone; the repair's search
// over candidate counts and name lengths trusts it to tell where the full parse would end.
// Both are compared on the widest user definition of a Jet 3 and a Jet 4 corpus file, as
// stored and with its counts and two-byte fields changed as such a search changes them; so
// is the lookup of where the long-value map entries end, made from the bytes as they are
// and, for the counts, from the bytes as stored.
#include <gtest/gtest.h>

#include "check_support.h"
#include "jet/format/database.h"
#include "jet/format/table_def.h"

namespace {

class TableDefEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(TableDefEnd, AgreesWithTheFullParse) {
    const auto path = test::corpus_file(GetParam());
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus file absent: " << path;
    jet::Database db(path);
    const jet::Layout& layout = db.layout();
    const uint16_t code_page = db.decode_context().code_page;
    std::vector<uint8_t> b;
    for (const auto& e : db.user_tables())
        if (const auto& read = db.table_def(e.tdef_page()); read.table && read.table->columns.size() > 10 &&
                                                              read.table->buffer.size() > b.size())
            b = read.table->buffer;
    ASSERT_FALSE(b.empty()) << "no wide table in " << path;

    size_t compared = 0, complete = 0;
    const jet::TrailingEnds stored_trailing(b);
    bool counts_only = true;
    auto agree = [&] {
        const jet::TableDefResult full = jet::parse_table_def(b, layout, code_page);
        const auto expected = full.table->complete ? std::optional<size_t>(full.table->parsed_length) : std::nullopt;
        EXPECT_EQ(jet::parsed_end(b, layout), expected) << "after " << compared << " edits";
        EXPECT_EQ(jet::parsed_end(b, layout, jet::TrailingEnds(b)), expected) << "after " << compared << " edits";
        if (counts_only) EXPECT_EQ(jet::parsed_end(b, layout, stored_trailing), expected) << "after " << compared << " edits";
        ++compared;
        complete += expected.has_value();
    };
    auto each_value = [&](size_t at, size_t width, uint32_t last) {
        const std::vector<uint8_t> stored(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + width));
        for (uint32_t v = 0; v <= last; ++v) {
            for (size_t i = 0; i < width; ++i) b[at + i] = uint8_t(v >> (8 * i));
            agree();
        }
        std::copy(stored.begin(), stored.end(), b.begin() + std::ptrdiff_t(at));
    };
    agree();
    each_value(layout.tdef_num_cols, 2, 300);
    each_value(layout.tdef_num_real_idx, 4, 70);
    each_value(layout.tdef_num_idx, 4, 70);
    counts_only = false;
    // Every two bytes from the first column name on, as a name length might read them
    // (the descriptors before keep their size whatever they hold).
    const size_t names = layout.tdef_variable_start + jet::u32_at(b, layout.tdef_num_real_idx) *
                                                          layout.real_index_count_entry_size +
                         jet::u16_at(b, layout.tdef_num_cols) * layout.column_size;
    const size_t end = std::min<size_t>(b.size(), jet::u32_at(b, 0x08) + 4);
    for (size_t at = names; at + 2 <= end; ++at)
        for (const uint16_t v : {0, 255}) {
            const uint8_t lo = b[at], hi = b[at + 1];
            b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
            agree();
            b[at] = lo, b[at + 1] = hi;
        }
    EXPECT_GT(complete, 1u) << "the edits should leave some definitions whole";
    std::printf("[cifras] %s: %zu definiciones comparadas, %zu completas\n", GetParam(), compared, complete);
}

INSTANTIATE_TEST_SUITE_P(Corpus, TableDefEnd,
                         ::testing::Values("jackcess/V1997/test2V1997.mdb", "jackcess/V2003/test2V2003.mdb"));

}  // namespace
