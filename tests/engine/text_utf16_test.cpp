// Exact UTF-16 text (what index keys are built from), column sort versions, and the
// undecoded row scan.
#include <gtest/gtest.h>

#include <string>

#include "corpus.h"
#include "jet/format/database.h"
#include "jet/format/long_value.h"
#include "jet/file/page_file.h"
#include "jet/format/row.h"
#include "jet/base/text.h"
#include "row_builder.h"

namespace {

using namespace jet;

TEST(TextUtf16, KeepsUnpairedSurrogatesThatUtf8Replaces) {
    const std::vector<uint8_t> lone = {0x00, 0xD8, 'a', 0};
    EXPECT_EQ(decode_ucs2_text_utf16(lone), std::u16string(u"\xD800" u"a"));
    EXPECT_EQ(decode_ucs2_text(lone), "\ufffd" "a");
    const std::vector<uint8_t> trailing_low = {'b', 0, 0x00, 0xDC};
    EXPECT_EQ(decode_ucs2_text_utf16(trailing_low), std::u16string(u"b\xDC00"));
    const std::vector<uint8_t> pair = {0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(decode_ucs2_text_utf16(pair), u"\U0001F600");
    EXPECT_EQ(utf16_to_utf8(decode_ucs2_text_utf16(pair)), decode_ucs2_text(pair));
}

TEST(TextUtf16, CompressionAndCodePagesGiveTheSameUnitsAsUtf8) {
    const std::vector<uint8_t> compressed = {0xFF, 0xFE, 'a', 'b', 0x00, 0x2D, 0x4E, 0x00, 'c'};
    EXPECT_EQ(decode_ucs2_text_utf16(compressed), u"ab\u4e2d" "c");
    EXPECT_EQ(decode_ucs2_text_utf16(std::vector<uint8_t>{0xFF, 0xFE, 0x00, 0x41}), u"");
    const std::vector<uint8_t> ansi = {0x80, 0xF1, 'z'};
    EXPECT_EQ(decode_code_page_text_utf16(ansi, 1252), u"\u20ac\u00f1z");
    EXPECT_EQ(decode_code_page_text_utf16(ansi, 9999), decode_code_page_text_utf16(ansi, 1252));
    EXPECT_EQ(decode_text_utf16(ansi, kJet3Layout, 1252), u"\u20ac\u00f1z");
    EXPECT_EQ(decode_text_utf16(compressed, kJet4Layout, 1252), u"ab\u4e2d" "c");
}

TEST(TextUtf16, FieldsOfTextAndMemoColumnsOnly) {
    std::vector<uint8_t> image(3 * 4096, 0);
    PageFile file(image, 4096);
    const DecodeContext ctx{&file, &kJet4Layout, 1252};
    Faults faults;
    const std::vector<uint8_t> stored = {0x00, 0xD8, 'x', 0};
    const Column text = test::column("T", data_type::text, 0, false, 0, 50);
    EXPECT_EQ(decode_field_text_utf16(text, Field{true, false, stored}, ctx, faults), std::u16string(u"\xD800x"));
    EXPECT_EQ(decode_field_text_utf16(text, Field{false, false, {}}, ctx, faults), std::nullopt);
    const Column number = test::column("N", data_type::long_integer, 1, true, 0);
    EXPECT_EQ(decode_field_text_utf16(number, Field{true, false, stored}, ctx, faults), std::nullopt);

    std::vector<uint8_t> memo_field(12, 0);
    memo_field[0] = uint8_t(stored.size());
    memo_field[3] = uint8_t(kLongValueInline >> 24);
    memo_field.insert(memo_field.end(), stored.begin(), stored.end());
    const Column memo = test::column("M", data_type::memo, 2, false, 1, 0);
    EXPECT_EQ(decode_field_text_utf16(memo, Field{true, false, memo_field}, ctx, faults), std::u16string(u"\xD800x"));
    EXPECT_TRUE(faults.empty());
    // A memo pointing outside the file reads nothing and says why.
    std::vector<uint8_t> broken(12, 0);
    broken[0] = 4;
    broken[4] = 0;
    broken[5] = 0x40;  // page 0x40
    EXPECT_EQ(decode_field_text_utf16(memo, Field{true, false, broken}, ctx, faults), std::nullopt);
    EXPECT_FALSE(faults.empty());
}

// Text columns carry the sort version of their format: 1 (General) from Access 2010 on.
TEST(ColumnSortVersion, FollowsTheFormatOfTheFile) {
    struct Case {
        const char* file;
        uint8_t version;
    };
    for (const Case c : {Case{"jackcess/V1997/testIndexCodesV1997.mdb", 0}, Case{"jackcess/V2003/test2V2003.mdb", 0},
                         Case{"jackcess/V2007/test2V2007.accdb", 0}, Case{"jackcess/V2010/test2V2010.accdb", 1}}) {
        const auto path = test::corpus_file(c.file);
        REQUIRE_CORPUS_FILE(path);
        Database db(path);
        int text_columns = 0;
        for (const auto& entry : db.user_tables()) {
            const auto& def = db.table_def(entry.tdef_page());
            ASSERT_TRUE(def.table) << c.file;
            for (const Column& col : def.table->columns) {
                if (col.type != data_type::text && col.type != data_type::memo) continue;
                ++text_columns;
                EXPECT_EQ(col.sort_version, c.version) << c.file << " " << entry.name << "." << col.name;
            }
        }
        EXPECT_GT(text_columns, 0) << c.file;
    }
}

// The undecoded scan visits the same rows as the decoded one, and the exact UTF-16 text
// of every text field reads back as the UTF-8 the dump prints.
TEST(StoredRowScan, SameRowsAsTheDecodedScanOverTheCorpus) {
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent: " << test::corpus_dir();
    size_t rows = 0, texts = 0;
    for (const auto& path : files) {
        std::optional<Database> db;
        try {
            db.emplace(path);
        } catch (const EngineError&) {
            continue;  // encrypted or refused: covered elsewhere
        }
        const DecodeContext ctx = db->decode_context();
        for (const auto& entry : db->user_tables()) {
            const auto& def = db->table_def(entry.tdef_page());
            if (!def.table) continue;
            const TableDef& t = *def.table;
            std::vector<std::pair<uint32_t, uint16_t>> decoded_at, stored_at;
            std::vector<std::vector<Value>> values;
            Faults f1, f2;
            db->scan_rows(t, entry.name, [&](const RowLocation& at, std::vector<Value>&& v) {
                decoded_at.emplace_back(at.page, at.row);
                values.push_back(std::move(v));
            }, f1);
            db->scan_stored_rows(t, entry.name, [&](const RowLocation& at, Bytes row) {
                CrackedRow cracked = crack_row(t, db->layout(), row);
                if (!cracked.usable) return;
                const size_t k = stored_at.size();
                stored_at.emplace_back(at.page, at.row);
                if (k >= values.size()) return;
                for (size_t c = 0; c < t.columns.size(); ++c) {
                    Faults ignored;
                    auto units = decode_field_text_utf16(t.columns[c], cracked.fields[c], ctx, ignored);
                    if (!units) continue;
                    ++texts;
                    const auto* utf8 = std::get_if<std::string>(&values[k][c]);
                    ASSERT_NE(utf8, nullptr) << path << " " << entry.name << " " << t.columns[c].name;
                    EXPECT_EQ(utf16_to_utf8(*units), *utf8) << path << " " << entry.name << " " << t.columns[c].name;
                }
            }, f2);
            EXPECT_EQ(stored_at, decoded_at) << path << " " << entry.name;
            rows += decoded_at.size();
        }
    }
    EXPECT_GT(rows, 1000u);
    EXPECT_GT(texts, 1000u);
}

}  // namespace
