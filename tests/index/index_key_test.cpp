// Key encodings against values seen in Access files and the ordering rules they follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "jet/base/format.h"
#include "jet/index/index_codes.h"
#include "jet/index/index_key.h"
#include "jet/base/text.h"

namespace {

using jet::TextSortOrder;
using jet::index_key::Key;

Key text_key(std::u16string_view s, TextSortOrder order, bool asc = true) {
    Key k;
    jet::index_key::append_text(k, s, order, asc);
    return k;
}

Key long_key(int32_t v, bool asc = true) {
    Key k;
    jet::index_key::append_integer(k, v, 4, asc);
    return k;
}

Key double_key(double v, bool asc = true) {
    Key k;
    jet::index_key::append_double(k, v, asc);
    return k;
}

TEST(IndexKeyText, GeneralLegacyMatchesAccessEntry) {
    EXPECT_EQ(text_key(u"ADMIN", TextSortOrder::GeneralLegacy),
              (Key{0x7f, 0x4a, 0x4f, 0x60, 0x59, 0x62, 0x01, 0x00}));
    // Case folds; trailing blanks do not count.
    EXPECT_EQ(text_key(u"admin  ", TextSortOrder::GeneralLegacy),
              text_key(u"ADMIN", TextSortOrder::GeneralLegacy));
    EXPECT_EQ(text_key(u"", TextSortOrder::GeneralLegacy), (Key{0x7f, 0x01, 0x00}));
}

// Entries of healthy Jet 3 files (row pointer left out).
TEST(IndexKeyText, General97MatchesAccessEntries) {
    // A ligature counts as its letters: ß holds two placeholders before the ä accent.
    EXPECT_EQ(text_key(u"Plutzer Lebensmittelgro\u00dfm\u00e4rkte AG", TextSortOrder::General97),
              (Key{0x7f, 0x73, 0x6d, 0x78, 0x77, 0x7e, 0x66, 0x75, 0x11, 0x6d, 0x66, 0x61, 0x66, 0x70,
                   0x76, 0x6f, 0x6a, 0x77, 0x77, 0x66, 0x6d, 0x68, 0x75, 0x72, 0x76, 0x76, 0x6f, 0x60,
                   0x75, 0x6c, 0x77, 0x66, 0x11, 0x60, 0x68, 0x02, 0x22, 0x22, 0x22, 0x22, 0x22, 0x60}));
    // MSysModules2: a stored NUL sorts like the other control characters; then a long 0
    // and a descending long 1.
    const uint8_t stored[] = {0x4c, 0x6f, 0x63, 0x6b, 0x00};
    Key k;
    jet::index_key::append_text(k, jet::decode_text_utf16(stored, jet::kJet3Layout, 1252),
                                TextSortOrder::General97, true);
    jet::index_key::append_integer(k, 0, 4, true);
    jet::index_key::append_integer(k, 1, 4, false);
    EXPECT_EQ(k, (Key{0x7f, 0x6d, 0x72, 0x62, 0x6c, 0x10, 0x00, 0x7f, 0x80, 0x00, 0x00, 0x00, 0x80, 0x7f,
                      0xff, 0xff, 0xfe}));
}

// Placeholders count sort elements until the first extra code (ß holds two before the ä of
// a Northwind name), then one per character (Æ holds one between Å and Ç of
// testUnicodeCompV2003).
TEST(IndexKeyText, GeneralLegacyPlaceholdersMatchAccessEntries) {
    EXPECT_EQ(text_key(u"\u00c5\u00c6\u00c7", TextSortOrder::GeneralLegacy),
              (Key{0x7f, 0x4a, 0x4a, 0x51, 0x4d, 0x01, 0x1a, 0x02, 0x1c, 0x00}));
    EXPECT_EQ(text_key(u"a\u00dfm\u00e4", TextSortOrder::GeneralLegacy),
              (Key{0x7f, 0x4a, 0x6b, 0x6b, 0x60, 0x4a, 0x01, 0x02, 0x02, 0x02, 0x02, 0x13, 0x00}));
}

TEST(IndexKeyText, DescendingInvertsValueAndKeepsFinalZero) {
    EXPECT_EQ(text_key(u"A", TextSortOrder::GeneralLegacy, false),
              (Key{0x80, 0xb5, 0xfe, 0xff, 0x00}));
    EXPECT_EQ(text_key(u"A", TextSortOrder::General97, false), (Key{0x80, 0x9f, 0xff}));
}

TEST(IndexKeyText, DefaultOrdersHaveTheirKnownCodes) {
    EXPECT_EQ(text_key(u"0A B", TextSortOrder::General97), (Key{0x7f, 0x56, 0x60, 0x11, 0x61, 0x00}));
    EXPECT_EQ(text_key(u"A", TextSortOrder::General), (Key{0x7f, 0x0e, 0x02, 0x01, 0x00}));
    EXPECT_EQ(text_key(u"B0", TextSortOrder::General), (Key{0x7f, 0x0e, 0x09, 0x0d, 0x17, 0x01, 0x00}));
    EXPECT_EQ(text_key(u" 9", TextSortOrder::GeneralLegacy), (Key{0x7f, 0x07, 0x48, 0x01, 0x00}));
}

TEST(IndexKeyText, InternationalCharactersAddExtraCodes) {
    // An accented letter sorts with its base letter; the accent goes to the extra section,
    // with 02 placeholders for the plain characters before it.
    Key plain = text_key(u"ae", TextSortOrder::GeneralLegacy);
    Key accented = text_key(u"a\u00e9", TextSortOrder::GeneralLegacy);
    ASSERT_GT(accented.size(), plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end() - 1, accented.begin()));
    EXPECT_EQ(accented[plain.size() - 1], 0x02);
    EXPECT_EQ(accented.back(), 0x00);
    // General 97 records accents as nibbles between 0 bounds.
    Key k97 = text_key(u"\u00e9", TextSortOrder::General97);
    const auto& e = jet::char_code(TextSortOrder::General97, u'\u00e9');
    ASSERT_EQ(e.cls, jet::CharClass::International);
    EXPECT_EQ(k97, (Key{0x7f, e.code[0], static_cast<uint8_t>(e.extra[0] & 0x0f), 0x00}));
}

TEST(IndexKeyText, OnlyFirst255CharactersCount) {
    std::u16string a(300, u'x'), b(300, u'x');
    b[280] = u'y';
    EXPECT_EQ(text_key(a, TextSortOrder::GeneralLegacy), text_key(b, TextSortOrder::GeneralLegacy));
    b[254] = u'y';
    EXPECT_NE(text_key(a, TextSortOrder::GeneralLegacy), text_key(b, TextSortOrder::GeneralLegacy));
}

TEST(IndexKeyText, OrderFollowsBytes) {
    for (auto order : {TextSortOrder::General97, TextSortOrder::GeneralLegacy, TextSortOrder::General}) {
        EXPECT_LT(text_key(u"abc", order), text_key(u"abd", order));
        EXPECT_LT(text_key(u"ab", order), text_key(u"abc", order));
        EXPECT_LT(text_key(u"9", order), text_key(u"a", order));
        EXPECT_GT(text_key(u"abc", order, false), text_key(u"abd", order, false));
    }
}

TEST(IndexKeyCodes, SurrogatesAndTablesCoverEveryCodeUnit) {
    const auto& hi = jet::char_code(TextSortOrder::GeneralLegacy, 0xD800);
    EXPECT_EQ(hi.cls, jet::CharClass::International);
    EXPECT_EQ(hi.code_len, 2);
    EXPECT_EQ((hi.code[0] << 8) | hi.code[1], 0xD800 - 10238);
    EXPECT_EQ(hi.extra[0], 0x3f);
    const auto& lo = jet::char_code(TextSortOrder::General, 0xDC00);
    EXPECT_EQ((lo.code[0] << 8) | lo.code[1], 0xDC00 - 9992);
    // Above U+00FF General 97 knows only a few mapped characters (the euro sign sorts
    // as the CP1252 byte 0x80).
    EXPECT_EQ(jet::char_code(TextSortOrder::General97, 0x20AC).code[0],
              jet::char_code(TextSortOrder::General97, 0x80).code[0]);
    EXPECT_EQ(jet::char_code(TextSortOrder::General97, 0x4E00).cls, jet::CharClass::Ignored);
}

TEST(IndexKeyText, SortOrderFromDescriptor) {
    using jet::index_key::text_sort_order;
    EXPECT_EQ(text_sort_order(1033, 0, 0x00), TextSortOrder::General97);
    EXPECT_EQ(text_sort_order(1033, 0, 0x01), TextSortOrder::GeneralLegacy);
    EXPECT_EQ(text_sort_order(1033, 1, 0x03), TextSortOrder::General);
    EXPECT_EQ(text_sort_order(1034, 0, 0x01), std::nullopt);  // Spanish: not encodable
    EXPECT_EQ(text_sort_order(1033, 7, 0x03), std::nullopt);
}

TEST(IndexKeyNumbers, IntegersFlipTheSignBit) {
    EXPECT_EQ(long_key(0), (Key{0x7f, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(long_key(INT32_MIN), (Key{0x7f, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(long_key(-1), (Key{0x7f, 0x7f, 0xff, 0xff, 0xff}));
    EXPECT_EQ(long_key(1, false), (Key{0x80, 0x7f, 0xff, 0xff, 0xfe}));
    EXPECT_LT(long_key(-5), long_key(3));
    EXPECT_GT(long_key(-5, false), long_key(3, false));
    Key k;
    jet::index_key::append_integer(k, -2, 2, true);
    EXPECT_EQ(k, (Key{0x7f, 0x7f, 0xfe}));
}

TEST(IndexKeyNumbers, FloatsOrderLikeNumbers) {
    EXPECT_EQ(double_key(1.0), (Key{0x7f, 0xbf, 0xf0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(double_key(-1.0), (Key{0x7f, 0x40, 0x0f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
    std::vector<double> values{-1e300, -2.5, -1.0, -0.0, 0.0, 1e-300, 1.0, 2.5, 1e300};
    for (size_t i = 1; i < values.size(); ++i) {
        EXPECT_LE(double_key(values[i - 1]), double_key(values[i])) << values[i];
        EXPECT_GE(double_key(values[i - 1], false), double_key(values[i], false)) << values[i];
    }
    Key s;
    jet::index_key::append_single(s, 1.0f, true);
    EXPECT_EQ(s, (Key{0x7f, 0xbf, 0x80, 0x00, 0x00}));
}

TEST(IndexKeyNumbers, FixedFromStoredBytes) {
    Key k;
    const uint8_t currency[8] = {0x10, 0x27, 0, 0, 0, 0, 0, 0};  // 1.0000
    ASSERT_TRUE(jet::index_key::append_fixed(k, jet::data_type::currency, currency, true, true));
    EXPECT_EQ(k, (Key{0x7f, 0x80, 0, 0, 0, 0, 0, 0x27, 0x10}));
    k.clear();
    const uint8_t byte[1] = {0x05};
    ASSERT_TRUE(jet::index_key::append_fixed(k, jet::data_type::byte, byte, false, true));
    EXPECT_EQ(k, (Key{0x80, 0xfa}));
    k.clear();
    EXPECT_FALSE(jet::index_key::append_fixed(k, jet::data_type::long_integer, byte, true, true));
    EXPECT_FALSE(jet::index_key::append_fixed(k, jet::data_type::text, currency, true, true));
}

TEST(IndexKeyNumbers, DecimalRules) {
    // 5 and -5 as stored: sign byte, then u32 LE words most significant first.
    uint8_t pos[17] = {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0};
    uint8_t neg[17] = {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0};
    auto dec = [](const uint8_t* v, bool asc, bool legacy) {
        Key k;
        jet::index_key::append_decimal(k, std::span<const uint8_t, 17>(v, 17), asc, legacy);
        return k;
    };
    Key p = dec(pos, true, false);
    EXPECT_EQ(p.size(), 18u);
    EXPECT_EQ(p[1], 0xff);
    EXPECT_EQ(p[17], 0x05);
    Key n = dec(neg, true, false);
    EXPECT_EQ(n[1], 0x00);
    EXPECT_EQ(n[17], 0xfa);
    EXPECT_LT(n, p);
    // New rule, descending: positives are inverted (00 FF .. FA), negatives keep FF 00 .. 05.
    EXPECT_EQ(dec(pos, false, false)[1], 0x00);
    EXPECT_EQ(dec(pos, false, false)[17], 0xfa);
    EXPECT_EQ(dec(neg, false, false)[1], 0xff);
    EXPECT_EQ(dec(neg, false, false)[17], 0x05);
    EXPECT_GT(dec(neg, false, false), dec(pos, false, false));
    // Legacy rule: descending positives are inverted below an FF sign byte.
    Key lp = dec(pos, false, true);
    EXPECT_EQ(lp[1], 0xff);
    EXPECT_EQ(lp[17], 0xfa);
    EXPECT_EQ(dec(neg, true, true)[1], 0x00);
}

TEST(IndexKeyOther, BooleanAndNull) {
    Key k;
    jet::index_key::append_boolean(k, true, true);
    jet::index_key::append_boolean(k, false, true);
    jet::index_key::append_boolean(k, true, false);
    jet::index_key::append_null(k, true);
    jet::index_key::append_null(k, false);
    EXPECT_EQ(k, (Key{0x7f, 0x00, 0x7f, 0xff, 0x80, 0xff, 0x00, 0xff}));
}

TEST(IndexKeyOther, BinaryGroupsOfEight) {
    Key k;
    const uint8_t three[3] = {1, 2, 3};
    jet::index_key::append_binary(k, three, true);
    EXPECT_EQ(k, (Key{0x7f, 1, 2, 3, 0, 0, 0, 0, 0, 3}));
    k.clear();
    const uint8_t nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    jet::index_key::append_binary(k, nine, false);
    EXPECT_EQ(k, (Key{0x80, 0xfe, 0xfd, 0xfc, 0xfb, 0xfa, 0xf9, 0xf8, 0xf7, 0x09, 0xf6, 0xff, 0xff,
                      0xff, 0xff, 0xff, 0xff, 0xff, 0xfe}));
    k.clear();
    jet::index_key::append_binary(k, {}, true);
    EXPECT_EQ(k, (Key{0x7f}));
}

TEST(IndexKeyOther, GuidFieldsBecomeBigEndian) {
    const uint8_t stored[16] = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07,
                                0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10};
    Key k;
    ASSERT_TRUE(jet::index_key::append_fixed(k, jet::data_type::guid, stored, true, false));
    EXPECT_EQ(k, (Key{0x7f, 1, 2, 3, 4, 5, 6, 7, 8, 0x09, 9, 10, 11, 12, 13, 14, 15, 16, 0x08}));
}

TEST(IndexKeyOther, ExtendedDateTimeBlocks) {
    uint8_t stored[42];
    for (int i = 0; i < 42; ++i) stored[i] = static_cast<uint8_t>('0' + i % 10);
    Key k;
    jet::index_key::append_ext_datetime(k, stored, true);
    ASSERT_EQ(k.size(), 1u + 5 * 9 + 2 + 7);
    EXPECT_EQ(k[9], 0x09);
    EXPECT_EQ(k[45], 0x09);
    EXPECT_EQ(k.back(), 0x02);
    Key d;
    jet::index_key::append_ext_datetime(d, stored, false);
    EXPECT_EQ(d[9], 0x09);
    EXPECT_EQ(d[1], static_cast<uint8_t>(~stored[0]));
    EXPECT_EQ(d.back(), 0xfd);
}

}  // namespace
