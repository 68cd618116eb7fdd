#include <gtest/gtest.h>

#include "corpus.h"
#include "jet/format/header.h"
#include "jet/file/page_file.h"

namespace {

TEST(HeaderMask, KeystreamMatchesKnownBytes) {
    auto s = jet::header_keystream();
    const uint8_t first[] = {0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55,
                             0xEB, 0xA9, 0x67, 0x72, 0x43, 0x3F, 0x00, 0x9C};
    for (size_t i = 0; i < sizeof first; ++i) EXPECT_EQ(s[i], first[i]) << i;
    EXPECT_EQ(s[124], 0xE9);
    EXPECT_EQ(s[127], 0xD4);
}

TEST(HeaderMask, AppliesOnlyToTheMaskedRegionAndIsItsOwnInverse) {
    std::vector<uint8_t> page(2048, 0x11);
    jet::apply_header_mask(page, jet::kJet3Layout);
    EXPECT_EQ(page[0x17], 0x11);
    EXPECT_NE(page[0x18], 0x11);
    EXPECT_EQ(page[0x18 + 126], 0x11);  // Jet 3 masks 126 bytes only
    jet::apply_header_mask(page, jet::kJet3Layout);
    EXPECT_EQ(page, std::vector<uint8_t>(2048, 0x11));
}

std::vector<uint8_t> synthetic_header(uint8_t version, const char* engine) {
    const auto& layout = version == 0 ? jet::kJet3Layout : jet::kJet4Layout;
    std::vector<uint8_t> page(layout.page_size, 0);
    page[1] = 0x01;
    for (size_t i = 0; engine[i]; ++i) page[4 + i] = uint8_t(engine[i]);
    page[0x14] = version;
    page[0x3C] = 0xE4;  // code page 1252
    page[0x3D] = 0x04;
    if (version == 0) {
        page[0x3A] = 0x09;
        page[0x3B] = 0x04;
    } else {
        page[0x6E] = 0x09;
        page[0x6F] = 0x04;
        page[0x71] = 0x01;
    }
    jet::apply_header_mask(page, layout);
    return page;
}

TEST(Header, ParsesSyntheticJet3AndJet4Pages) {
    auto r3 = jet::parse_header(synthetic_header(0, "Standard Jet DB"));
    ASSERT_TRUE(r3.header);
    EXPECT_TRUE(r3.faults.empty());
    EXPECT_EQ(r3.header->page_size(), 2048u);
    EXPECT_EQ(r3.header->code_page, 1252);
    EXPECT_EQ(r3.header->sort_order, 0x0409);
    EXPECT_FALSE(r3.header->has_password);
    EXPECT_FALSE(r3.header->encrypted());

    auto r4 = jet::parse_header(synthetic_header(3, "Standard ACE DB"));
    ASSERT_TRUE(r4.header);
    EXPECT_EQ(r4.header->page_size(), 4096u);
    EXPECT_EQ(r4.header->sort_order, 0x0409);
    EXPECT_EQ(r4.header->sort_version, 1);
    EXPECT_FALSE(r4.header->has_password);  // creation date 0: mask is all zero
}

TEST(Header, RejectsBytesThatAreNoDatabaseAndToleratesOneDamagedMark) {
    std::vector<uint8_t> text(4096, 'x');
    EXPECT_FALSE(jet::parse_header(text).is_database);
    EXPECT_FALSE(jet::parse_header({}).is_database);

    auto page = synthetic_header(1, "Standard Jet DB");
    page[0] = 0x7F;  // signature damaged, engine name intact
    auto r = jet::parse_header(page);
    EXPECT_TRUE(r.is_database);
    ASSERT_TRUE(r.header);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].kind, jet::FaultKind::HeaderSignature);
}

TEST(Header, UnknownVersionIsResolvedByProbingPage2) {
    auto page = synthetic_header(0, "Standard Jet DB");
    page[0x14] = 0x42;
    std::vector<uint8_t> file(2048 * 3, 0);
    std::copy(page.begin(), page.end(), file.begin());
    file[4096] = 0x02;
    file[4097] = 0x01;
    file[4098] = 'V';
    file[4099] = 'C';
    auto r = jet::parse_header(file);
    ASSERT_TRUE(r.header);
    EXPECT_TRUE(r.header->layout->jet3);
    ASSERT_FALSE(r.faults.empty());
    EXPECT_EQ(r.faults[0].kind, jet::FaultKind::HeaderVersionUnknown);
}

jet::HeaderResult corpus_header(const std::string& name) {
    jet::PageFile file(test::corpus_file(name));
    return jet::parse_header(file.read_prefix(3 * 4096));
}

TEST(HeaderCorpus, ReadsVersionsPasswordsAndEncryption) {
    REQUIRE_CORPUS_FILE(test::corpus_file("jackcess/V1997/test2V1997.mdb"));
    auto jet3 = corpus_header("jackcess/V1997/test2V1997.mdb");
    ASSERT_TRUE(jet3.header);
    EXPECT_TRUE(jet3.header->layout->jet3);
    EXPECT_EQ(jet3.header->code_page, 1252);
    EXPECT_EQ(jet3.header->sort_order, 0x0409);
    EXPECT_FALSE(jet3.header->has_password);

    auto ace = corpus_header("jackcess/V2010/test2V2010.accdb");
    ASSERT_TRUE(ace.header);
    EXPECT_EQ(ace.header->engine_name, "Standard ACE DB");
    EXPECT_EQ(ace.header->version_byte, 0x03);
    EXPECT_EQ(ace.header->sort_order, 0x0409);
    EXPECT_FALSE(ace.header->has_password);
    EXPECT_GT(ace.header->creation_date, 30000.0);

    EXPECT_TRUE(corpus_header("mdb-reader/password/data/V2003_with-password.mdb").header->has_password);
    EXPECT_FALSE(corpus_header("mdb-reader/password/data/V2003_no-password.mdb").header->has_password);
    EXPECT_TRUE(corpus_header("tika/testAccess2_encrypted.accdb").header->encrypted());
    EXPECT_FALSE(corpus_header("tika/testAccess2.accdb").header->encrypted());
}

}  // namespace
