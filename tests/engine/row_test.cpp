#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "jet/format/calculated.h"
#include "jet/format/column_properties.h"
#include "jet/format/long_value.h"
#include "jet/format/null_field_places.h"
#include "jet/file/page_file.h"
#include "jet/format/row.h"
#include "jet/base/text.h"
#include "page_builder.h"
#include "row_builder.h"

namespace {

using namespace jet;
using test::column;

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::vector<uint8_t> ucs2(const std::u16string& s) {
    std::vector<uint8_t> out;
    for (char16_t c : s) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

// Long (fixed, number 0), Text (var 0, number 1), Boolean (number 2), Text (var 1, number 4).
TableDef sample_table(uint16_t max_cols = 5) {
    TableDef t;
    t.max_cols = max_cols;
    t.num_var_cols = 2;
    t.columns = {column("Id", data_type::long_integer, 0, true, 0), column("Name", data_type::text, 1, false, 0, 100),
                 column("Done", data_type::boolean, 2, false, 0), column("Note", data_type::text, 4, false, 1, 100)};
    t.columns[2].flags = column_flag::fixed;  // booleans are fixed-flagged, stored in the mask
    return t;
}

DecodeContext jet4_context() { return DecodeContext{nullptr, &kJet4Layout, 1252}; }
DecodeContext jet3_context() { return DecodeContext{nullptr, &kJet3Layout, 1252}; }

TEST(RowCodec, Jet4FixedVariableAndNullMask) {
    test::RowSpec s{5, {0x2A, 0, 0, 0}, {ucs2(u"Ana"), ucs2(u"x")}, {true, true, true, false, false}};
    auto r = decode_row(sample_table(), test::jet4_row(s), jet4_context());
    ASSERT_TRUE(r.usable);
    EXPECT_TRUE(r.faults.empty());
    EXPECT_EQ(std::get<int32_t>(r.values[0]), 42);
    EXPECT_EQ(std::get<std::string>(r.values[1]), "Ana");
    EXPECT_EQ(std::get<bool>(r.values[2]), true);
    EXPECT_TRUE(is_null(r.values[3]));  // bit 4 clear
}

TEST(RowCodec, RowsWithFewerStoredColumnsReadNewColumnsAsNullOrNo) {
    // Written when the table had 2 columns and one var slot: columns 2 and 4 are absent. A
    // Yes/No column is never NULL: Access (and both readers) show a later one as No.
    test::RowSpec s{2, {7, 0, 0, 0}, {ucs2(u"Bo")}, {true, true}};
    auto r = decode_row(sample_table(), test::jet4_row(s), jet4_context());
    ASSERT_TRUE(r.usable);
    EXPECT_TRUE(r.faults.empty());
    EXPECT_EQ(std::get<int32_t>(r.values[0]), 7);
    EXPECT_EQ(std::get<std::string>(r.values[1]), "Bo");
    EXPECT_EQ(std::get<bool>(r.values[2]), false);
    EXPECT_TRUE(is_null(r.values[3]));
}

TEST(RowCodec, Jet3JumpTableAcrossSeveralBoundaries) {
    for (size_t first : {10u, 250u, 300u, 600u}) {
        std::string a(first, 'a'), b(200, 'b'), c(5, 'c');
        TableDef t;
        t.max_cols = 4;
        t.num_var_cols = 3;
        t.columns = {column("A", data_type::text, 0, false, 0, 255), column("B", data_type::text, 1, false, 1, 255),
                     column("C", data_type::text, 2, false, 2, 255), column("N", data_type::byte, 3, true, 0)};
        test::RowSpec s{4, {9}, {bytes(a), bytes(b), bytes(c)}, {true, true, true, true}};
        auto row = test::jet3_row(s);
        auto r = decode_row(t, row, jet3_context());
        SCOPED_TRACE("first value " + std::to_string(first) + ", row " + std::to_string(row.size()));
        ASSERT_TRUE(r.usable);
        EXPECT_TRUE(r.faults.empty());
        EXPECT_EQ(std::get<std::string>(r.values[0]), a);
        EXPECT_EQ(std::get<std::string>(r.values[1]), b);
        EXPECT_EQ(std::get<std::string>(r.values[2]), c);
        EXPECT_EQ(std::get<uint8_t>(r.values[3]), 9);
    }
}

TEST(RowCodec, Jet3CodePageText) {
    TableDef t;
    t.max_cols = 1;
    t.num_var_cols = 1;
    t.columns = {column("T", data_type::text, 0, false, 0, 10)};
    test::RowSpec s{1, {}, {{0x80, 'a', 0xF1}}, {true}};
    auto r = decode_row(t, test::jet3_row(s), jet3_context());
    ASSERT_TRUE(r.usable);
    EXPECT_EQ(std::get<std::string>(r.values[0]), "\u20ac" "a" "\u00f1");
    t.columns[0].code_page = 1251;  // a per-column code page wins
    r = decode_row(t, test::jet3_row(s), jet3_context());
    EXPECT_EQ(std::get<std::string>(r.values[0]), "\u0402" "a" "\u0441");
}

TEST(RowCodec, BrokenVarOffsetsNullOnlyThatFieldAndReportIt) {
    test::RowSpec s{5, {1, 0, 0, 0}, {ucs2(u"Ana"), ucs2(u"x")}, {true, true, true, false, true}};
    auto row = test::jet4_row(s);
    // offset[1] sits at L - nm - 4 - 2: point it past the end of the variable data.
    const size_t at = row.size() - 1 - 4 - 2;
    row[at] = 0xF0;
    auto r = decode_row(sample_table(), row, jet4_context());
    ASSERT_TRUE(r.usable);
    ASSERT_FALSE(r.faults.empty());
    EXPECT_EQ(r.faults[0].kind, FaultKind::RowVarTable);
    EXPECT_EQ(std::get<int32_t>(r.values[0]), 1);
    EXPECT_TRUE(is_null(r.values[1]) || is_null(r.values[3]));
}

// mdbtools places every stored field before it reads the null mask and skips a row with
// one out of place: an entry only NULL fields use, out of order, is a fault, and putting it
// back in order keeps the row's values.
TEST(RowCodec, NullFieldOutOfPlaceIsReportedAndPutBack) {
    TableDef t;
    t.max_cols = 3;
    t.num_var_cols = 3;
    t.columns = {column("A", data_type::text, 0, false, 0, 255), column("B", data_type::text, 1, false, 1, 255),
                 column("C", data_type::text, 2, false, 2, 255)};
    const test::RowSpec s{3, {}, {bytes("abc"), {}, {}}, {true, false, false}};
    for (const bool jet3 : {false, true}) {
        SCOPED_TRACE(jet3 ? "Jet 3" : "Jet 4");
        const Layout& layout = jet3 ? kJet3Layout : kJet4Layout;
        const std::vector<uint8_t> intact = jet3 ? test::jet3_row(s) : test::jet4_row(s);
        // Entry 2 lies between the NULL fields B and C.
        std::vector<uint8_t> row = intact;
        const size_t entry2 = jet3 ? row.size() - 1 - 2 - 2 : row.size() - 1 - 4 - 4;
        row[entry2] = 0xF0;
        const CrackedRow damaged = crack_row(t, layout, row);
        ASSERT_EQ(damaged.faults.size(), 1u);
        EXPECT_EQ(damaged.faults[0].kind, FaultKind::RowNullPlace);
        EXPECT_EQ(damaged.faults[0].detail, "B");
        ASSERT_TRUE(place_null_fields(t, layout, row));
        EXPECT_EQ(row, intact);
        // A present field out of place is not a NULL field's entry: left for the row's repair.
        row[row.size() - 1 - (jet3 ? 2 : 4)] = 0xF0;
        const std::vector<uint8_t> broken = row;
        EXPECT_FALSE(place_null_fields(t, layout, row));
        EXPECT_EQ(row, broken);
    }
}

TEST(RowCodec, GarbageRowsAreUnusableNotFatal) {
    const std::vector<std::vector<uint8_t>> rows = {
        {}, {0x01}, {0xFF, 0xFF, 0x00}, {0x05, 0x00, 0xFF, 0xFF, 0xFF}, std::vector<uint8_t>(40, 0xFF)};
    for (const auto& row : rows) {
        auto r = decode_row(sample_table(), row, jet4_context());
        EXPECT_FALSE(r.usable && r.faults.empty() && row.size() < 8) << row.size();
        for (const auto& v : r.values) (void)v;
        auto r3 = decode_row(sample_table(), row, jet3_context());
        (void)r3;
    }
    auto r = decode_row(sample_table(), {}, jet4_context());
    EXPECT_FALSE(r.usable);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].kind, FaultKind::RowTooShort);
}

TEST(RowCodec, FixedTypesDecode) {
    TableDef t;
    t.max_cols = 6;
    t.columns = {column("Cur", data_type::currency, 0, true, 0), column("Dbl", data_type::double_, 1, true, 8),
                 column("Sgl", data_type::single, 2, true, 16), column("Dec", data_type::decimal, 3, true, 20),
                 column("Big", data_type::big_int, 4, true, 37), column("Int", data_type::integer, 5, true, 45)};
    t.columns[3].scale = 2;
    std::vector<uint8_t> fixed(47, 0);
    test::put32(fixed, 0, uint32_t(-1234567));  // -123.4567
    test::put32(fixed, 4, 0xFFFFFFFF);
    double d = 0.1;
    float f = 0.1f;
    std::memcpy(fixed.data() + 8, &d, 8);
    std::memcpy(fixed.data() + 16, &f, 4);
    fixed[20] = 0x80;             // negative
    test::put32(fixed, 33, 12345);  // least significant word last
    test::put32(fixed, 37, 0xFFFFFFFE);
    test::put32(fixed, 41, 0xFFFFFFFF);
    test::put16(fixed, 45, 0x8000);
    test::RowSpec s{6, fixed, {}, std::vector<bool>(6, true)};
    auto r = decode_row(t, test::jet4_row(s), jet4_context());
    ASSERT_TRUE(r.usable);
    EXPECT_EQ(format_currency(std::get<Currency>(r.values[0]).scaled), "-123.4567");
    EXPECT_EQ(std::get<double>(r.values[1]), 0.1);
    EXPECT_EQ(std::get<float>(r.values[2]), 0.1f);
    EXPECT_EQ(format_decimal(std::get<Decimal>(r.values[3])), "-123.45");
    EXPECT_EQ(std::get<int64_t>(r.values[4]), -2);
    EXPECT_EQ(std::get<int16_t>(r.values[5]), -32768);
}

// A stored calculated value: 16 bytes, the data length, the data, 3 bytes.
std::vector<uint8_t> wrapped(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(kCalculatedDataOffset, 0);
    test::put32(out, kCalculatedLengthOffset, uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), 3, 0);
    return out;
}

// One calculated column per variable slot, its stored type as in the definition.
TableDef calculated_table(const std::vector<std::pair<const char*, uint8_t>>& stored) {
    TableDef t;
    t.max_cols = uint16_t(stored.size());
    t.num_var_cols = uint16_t(stored.size());
    for (uint16_t i = 0; i < stored.size(); ++i) {
        t.columns.push_back(column(stored[i].first, stored[i].second, i, false, i, 39));
        t.columns.back().stored_type = stored[i].second;
        t.columns.back().ext_flags = column_ext_flag::calculated;
    }
    return t;
}

DecodedRow decode_calculated(const TableDef& t, const std::vector<std::vector<uint8_t>>& data) {
    std::vector<std::vector<uint8_t>> stored;
    for (const auto& d : data) stored.push_back(wrapped(d));
    test::RowSpec s{uint16_t(data.size()), {}, stored, std::vector<bool>(data.size(), true)};
    return decode_row(t, test::jet4_row(s), jet4_context());
}

// Values as calcFieldTestV2010 stores them: the definition's types are not the results'.
TEST(CalculatedColumns, ReadAsTheirResultTypeFromTheProperties) {
    TableDef t = calculated_table({{"IsRich", data_type::integer},
                                   {"Monthly", data_type::double_},
                                   {"Weekly", data_type::double_},
                                   {"Float", data_type::decimal},
                                   {"Big", data_type::decimal},
                                   {"Name", data_type::text},
                                   {"Len", data_type::long_integer},
                                   {"When", data_type::datetime}});
    apply_result_types(t, {{"IsRich", data_type::boolean}, {"Monthly", data_type::currency},
                           {"Weekly", data_type::decimal}, {"Float", data_type::single}, {"Big", data_type::decimal}});
    auto r = decode_calculated(
        t, {{0xFF},
            {0x55, 0xA8, 0xAB, 0x31, 0, 0, 0, 0},
            {0x0E, 0, 0x10, 0x80, 0, 0, 0, 0, 0xEC, 0x04, 0xB0, 0x1F, 0xE7, 0xAE, 0, 0},
            {0x59, 0x73, 0x21, 0x45},
            {0, 0, 0x12, 0, 0x58, 0xE9, 0x93, 0xB6, 0x74, 0x4D, 0xEA, 0xC8, 0xF7, 0xAA, 0x52, 0x18},
            ucs2(u"Doe, John"),
            {12, 0, 0, 0},
            {}});  // an empty result: extDateTestV2019's DateNormalCalc of a row without dates
    ASSERT_TRUE(r.usable);
    EXPECT_TRUE(r.faults.empty()) << r.faults.front().detail;
    EXPECT_EQ(std::get<bool>(r.values[0]), true);
    EXPECT_EQ(format_currency(std::get<Currency>(r.values[1]).scaled), "83333.3333");
    EXPECT_EQ(format_decimal(std::get<Decimal>(r.values[2])), "-0.0192307692307692");
    EXPECT_FLOAT_EQ(std::get<float>(r.values[3]), 2583.2092f);
    // Count 0: the magnitude is all that follows, 12 bytes.
    EXPECT_EQ(format_decimal(std::get<Decimal>(r.values[4])), "56505085819.424791296572280180");
    EXPECT_EQ(std::get<std::string>(r.values[5]), "Doe, John");
    EXPECT_EQ(std::get<int32_t>(r.values[6]), 12);
    EXPECT_TRUE(is_null(r.values[7]));
}

TEST(CalculatedColumns, TextDeclaringNoLengthIsAMemo) {
    TableDef t = calculated_table({{"All", data_type::text}, {"Short", data_type::text}});
    t.columns[0].length = 0;
    apply_result_types(t, {});
    EXPECT_EQ(t.columns[0].type, data_type::memo);
    EXPECT_EQ(t.columns[1].type, data_type::text);
}

TEST(CalculatedColumns, ABrokenWrapperIsAFaultUnlessTheTypeIsOnlyStored) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stored;
        bool type_known;
        bool fault;
    };
    std::vector<uint8_t> overlong = wrapped({1, 2, 3, 4});
    test::put32(overlong, kCalculatedLengthOffset, 40);
    const std::vector<Case> cases = {
        {"shorter than the wrapper", std::vector<uint8_t>(19, 0), false, true},
        {"data past the value", overlong, false, true},
        {"a long of 2 bytes, type from the properties", wrapped({1, 2}), true, true},
        {"a long of 2 bytes, type only stored", wrapped({1, 2}), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TableDef t = calculated_table({{"Len", data_type::long_integer}});
        apply_result_types(t, c.type_known ? std::vector<std::pair<std::string, uint8_t>>{{"Len", data_type::long_integer}}
                                           : std::vector<std::pair<std::string, uint8_t>>{});
        test::RowSpec s{1, {}, {c.stored}, {true}};
        auto r = decode_row(t, test::jet4_row(s), jet4_context());
        ASSERT_TRUE(r.usable);
        EXPECT_EQ(!r.faults.empty(), c.fault);
        if (c.fault) {
            EXPECT_TRUE(is_null(r.values[0]));
            EXPECT_EQ(r.faults.front().kind, FaultKind::RowFieldLength);
        }
    }
}

TEST(CalculatedColumns, ResultTypesComeFromTheTablesPropertyBlob) {
    auto name = [](std::vector<uint8_t>& b, const std::u16string& n) {
        const auto u = ucs2(n);
        b.push_back(uint8_t(u.size()));
        b.push_back(0);
        b.insert(b.end(), u.begin(), u.end());
    };
    auto chunk = [](std::vector<uint8_t>& blob, uint16_t kind, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> head(6, 0);
        test::put32(head, 0, uint32_t(6 + body.size()));
        test::put16(head, 4, kind);
        blob.insert(blob.end(), head.begin(), head.end());
        blob.insert(blob.end(), body.begin(), body.end());
    };
    std::vector<uint8_t> blob = {'M', 'R', '2', 0}, names, block(4, 0);
    name(names, u"Expression");
    name(names, u"ResultType");
    chunk(blob, 0x80, names);
    name(block, u"IsRich");
    test::put32(block, 0, uint32_t(block.size()));
    const std::vector<uint8_t> expression = {10, 0, 0, 10, 0, 0, 2, 0, 'x', 0};  // a text property, name 0
    const std::vector<uint8_t> result = {9, 0, 0, 2, 1, 0, 1, 0, data_type::boolean};
    block.insert(block.end(), expression.begin(), expression.end());
    block.insert(block.end(), result.begin(), result.end());
    chunk(blob, 0x01, block);
    using Types = std::vector<std::pair<std::string, uint8_t>>;
    EXPECT_EQ(calculated_result_types(blob), (Types{{"IsRich", data_type::boolean}}));
    for (size_t cut = 0; cut < blob.size(); ++cut)  // every truncation stays in bounds
        calculated_result_types(Bytes(blob).first(cut));
    blob[0] = 'K';
    EXPECT_TRUE(calculated_result_types(blob).empty());
    blob[0] = 'M';

    // The walk every reader makes: each length must land inside the blob, on the next field.
    const PropertyBlob whole = read_property_blob(blob);
    EXPECT_EQ(whole.fault, "");
    EXPECT_EQ(whole.names, (std::vector<std::string>{"Expression", "ResultType"}));
    EXPECT_EQ(whole.blocks, (std::vector<std::string>{"IsRich"}));
    const size_t block_at = 4 + 6 + names.size() + 6, entry_at = block_at + 18;
    struct Damage {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
    };
    const Damage damages[] = {
        {"signature", 0, {0, 0, 0, 0}},
        {"chunk length 0", 4, {0, 0, 0, 0}},
        {"chunk past the end", 4, {0xFF, 0, 0, 0}},
        {"name past its list", 10, {0x40, 0}},
        {"block name length", block_at + 4, {2, 0}},
        {"entry length 0", entry_at, {0, 0}},
        {"entry past its block", entry_at, {0x40, 0}},
        {"entry without a type", entry_at + 3, {0}},
        {"name index past the list", entry_at + 4, {2, 0}},
        {"value past its entry", entry_at + 6, {3, 0}},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> broken = blob;
        std::copy(d.bytes.begin(), d.bytes.end(), broken.begin() + d.at);
        EXPECT_NE(read_property_blob(broken).fault, "") << d.what;
    }
    for (size_t cut = 1; cut < blob.size(); ++cut) {
        if (cut == 4 || cut == 4 + 6 + names.size()) continue;  // a list of no chunks, or of names only
        EXPECT_NE(read_property_blob(Bytes(blob).first(cut)).fault, "") << "cut at " << cut;
    }
    blob.push_back(0);
    EXPECT_NE(read_property_blob(blob).fault, "") << "a stray byte after the last chunk";
    EXPECT_EQ(read_property_blob({}).fault, "");
}

TEST(Text, CompressedUnicodeTogglesOnZeroBytes) {
    const std::vector<uint8_t> v = {0xFF, 0xFE, 'a', 'b', 0x00, 0x2D, 0x4E, 0x00, 'c'};
    EXPECT_EQ(decode_ucs2_text(v), "ab\u4e2d" "c");
    EXPECT_EQ(decode_ucs2_text(std::vector<uint8_t>{0xFF, 0xFE}), "");
    EXPECT_EQ(decode_ucs2_text(std::vector<uint8_t>{0xFF, 0xFE, 0x00, 0x41}), "");  // half a unit dropped
    EXPECT_EQ(decode_ucs2_text(std::vector<uint8_t>{'h', 0, 'i', 0, 'x'}), "hi");
    EXPECT_EQ(decode_ucs2_text(std::vector<uint8_t>{0x3D, 0xD8, 0x00, 0xDE}), "\U0001F600");
    EXPECT_EQ(decode_ucs2_text(std::vector<uint8_t>{0x00, 0xD8, 'a', 0}), "\ufffd" "a");
}

TEST(Text, UnknownCodePagesReadAs1252) {
    const std::vector<uint8_t> v = {0x80, 0x9F, 'z'};
    EXPECT_EQ(decode_code_page_text(v, 9999), decode_code_page_text(v, 1252));
    EXPECT_EQ(decode_code_page_text(v, 1252), "\u20ac\u0178z");
}

// A 4 KB file: page 1 and 2 hold LVAL rows.
struct LvalFile {
    std::vector<uint8_t> image;
    LvalFile() {
        test::FileImage f(kJet4Layout, 4);
        test::DataPageBuilder p1{kJet4Layout, 0x4C41564C, {}, {}};
        std::vector<uint8_t> chain0 = {0x00, 0x02, 0x00, 0x00};  // next: page 2 row 0
        for (char c : std::string("hello ")) chain0.push_back(uint8_t(c));
        p1.add(chain0);
        p1.add(bytes("single-row value"));
        std::vector<uint8_t> loop = {0x02, 0x01, 0x00, 0x00, 'x'};  // next: itself (page 1 row 2)
        p1.add(loop);
        f.set_page(1, p1.build());
        test::DataPageBuilder p2{kJet4Layout, 0x4C41564C, {}, {}};
        std::vector<uint8_t> chain1 = {0, 0, 0, 0};
        for (char c : std::string("world")) chain1.push_back(uint8_t(c));
        p2.add(chain1);
        f.set_page(2, p2.build());
        test::DataPageBuilder p3{kJet4Layout, 5, {}, {}};  // an ordinary data page
        p3.add(bytes("not a long value"));
        f.set_page(3, p3.build());
        image = f.bytes;
    }
};

std::vector<uint8_t> lv_definition(uint32_t length_and_kind, uint32_t pointer, const std::string& inline_data = "") {
    std::vector<uint8_t> d;
    test::append32(d, length_and_kind);
    test::append32(d, pointer);
    test::append32(d, 0);
    for (char c : inline_data) d.push_back(uint8_t(c));
    return d;
}

TEST(LongValue, InlineSingleRowAndChain) {
    LvalFile lf;
    PageFile file(lf.image, 4096);
    auto in = read_long_value(file, kJet4Layout, lv_definition(kLongValueInline | 3, 0, "abc"));
    EXPECT_TRUE(in.complete);
    EXPECT_EQ(std::string(in.data.begin(), in.data.end()), "abc");

    auto one = read_long_value(file, kJet4Layout, lv_definition(kLongValueSingleRow | 16, (1 << 8) | 1));
    EXPECT_TRUE(one.complete);
    EXPECT_EQ(std::string(one.data.begin(), one.data.end()), "single-row value");

    auto chain = read_long_value(file, kJet4Layout, lv_definition(11, (1 << 8) | 0));
    EXPECT_TRUE(chain.complete) << (chain.faults.empty() ? "" : chain.faults[0].detail);
    EXPECT_EQ(std::string(chain.data.begin(), chain.data.end()), "hello world");
    EXPECT_EQ(chain.rows.size(), 2u);
}

TEST(LongValue, DamageGivesPartialDataAndFaults) {
    LvalFile lf;
    PageFile file(lf.image, 4096);
    auto cycle = read_long_value(file, kJet4Layout, lv_definition(1000, (1 << 8) | 2));
    EXPECT_FALSE(cycle.complete);
    ASSERT_FALSE(cycle.faults.empty());
    EXPECT_EQ(cycle.faults.back().kind, FaultKind::LongValueCycle);
    EXPECT_EQ(std::string(cycle.data.begin(), cycle.data.end()), "x");

    auto longer = read_long_value(file, kJet4Layout, lv_definition(50, (1 << 8) | 0));
    EXPECT_FALSE(longer.complete);
    EXPECT_EQ(longer.faults.back().kind, FaultKind::LongValueTruncated);
    EXPECT_EQ(longer.data.size(), 11u);

    auto not_lval = read_long_value(file, kJet4Layout, lv_definition(kLongValueSingleRow | 4, (3 << 8) | 0));
    EXPECT_EQ(not_lval.faults.back().kind, FaultKind::LongValuePointer);
    auto past_end = read_long_value(file, kJet4Layout, lv_definition(kLongValueSingleRow | 4, (900 << 8) | 0));
    EXPECT_EQ(past_end.faults.back().kind, FaultKind::LongValuePointer);
    auto no_slot = read_long_value(file, kJet4Layout, lv_definition(kLongValueSingleRow | 4, (1 << 8) | 77));
    EXPECT_EQ(no_slot.faults.back().kind, FaultKind::LongValuePointer);
    auto bad_kind = read_long_value(file, kJet4Layout, lv_definition(0xC0000004, (1 << 8) | 1));
    EXPECT_EQ(bad_kind.faults.back().kind, FaultKind::LongValueKind);
    auto inline_short = read_long_value(file, kJet4Layout, lv_definition(kLongValueInline | 10, 0, "abc"));
    EXPECT_FALSE(inline_short.complete);
    EXPECT_EQ(inline_short.data.size(), 3u);
    auto tiny = read_long_value(file, kJet4Layout, std::vector<uint8_t>{1, 2, 3});
    EXPECT_FALSE(tiny.faults.empty());
}

TEST(ValueText, DatesCurrencyDecimalGuid) {
    EXPECT_EQ(format_datetime(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(format_datetime(2.25), "1900-01-01 06:00:00");
    EXPECT_EQ(format_datetime(-1.25), "1899-12-29 06:00:00");
    EXPECT_EQ(format_datetime(-1.0), "1899-12-29 00:00:00");
    EXPECT_EQ(format_datetime(42179.5 + 1.5 / 86400), "2015-06-24 12:00:01.5");
    EXPECT_EQ(format_datetime(1.0 - 0.0001 / 86400), "1899-12-31 00:00:00");  // rounds into the next day
    EXPECT_EQ(format_datetime(std::nan("")), "");
    EXPECT_EQ(format_datetime(1e9), "");
    EXPECT_EQ(format_extended_datetime("0000000000000000000:0000000000000000000:7 "), "0001-01-01 00:00:00");
    EXPECT_EQ(format_extended_datetime("0000000000000738153:0000000452967891234:7 "), "2021-12-30 12:34:56.7891234");
    EXPECT_EQ(format_extended_datetime("garbage"), "");
    EXPECT_EQ(format_currency(0), "0.0000");
    EXPECT_EQ(format_currency(-1), "-0.0001");
    EXPECT_EQ(format_currency(INT64_MIN), "-922337203685477.5808");
    Decimal d;
    d.words = {0, 0, 0, 5};
    d.scale = 3;
    EXPECT_EQ(format_decimal(d), "0.005");
    d.words = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    d.scale = 0;
    EXPECT_EQ(format_decimal(d), "340282366920938463463374607431768211455");
    d.words = {0, 0, 0, 0};
    d.negative = true;
    d.scale = 2;
    EXPECT_EQ(format_decimal(d), "0.00");
    Guid g;
    for (int i = 0; i < 16; ++i) g.bytes[size_t(i)] = uint8_t(i);
    EXPECT_EQ(format_guid(g), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
    EXPECT_EQ(hex_lower({0x00, 0xAB, 0x0F}), "00ab0f");
}

}  // namespace
