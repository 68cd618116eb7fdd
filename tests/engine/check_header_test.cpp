// Page-0 damage, made from intact corpus copies, is reported with the right code.
#include <cmath>
#include <cstring>
#include <limits>

#include "check_support.h"
#include "jet/engine.h"

namespace {

using test::DamagedCopy;

const char* const kJet3 = "jackcess/V1997/test2V1997.mdb";
const char* const kJet4 = "jackcess/V2003/test2V2003.mdb";
const char* const kAce = "jackcess/V2010/test2V2010.accdb";

jet::Report check(DamagedCopy& copy) { return jet::check_database(copy.save()); }

TEST(CheckHeader, DamagedSignatureAndEngineNameAreEachReported) {
    DamagedCopy copy(kJet4);
    REQUIRE_COPY(copy);
    copy.bytes()[1] = 0x07;
    auto report = check(copy);
    EXPECT_TRUE(test::has_code(report, "HDR_SIGNATURE")) << test::describe(report);

    DamagedCopy named(kAce);
    REQUIRE_COPY(named);
    std::memcpy(named.bytes().data() + 4, "Standard XYZ DB", 15);
    report = check(named);
    EXPECT_TRUE(test::has_code(report, "HDR_ENGINE_NAME")) << test::describe(report);
}

TEST(CheckHeader, UnknownVersionByteIsReported) {
    for (const char* file : {kJet3, kJet4}) {
        DamagedCopy copy(file);
        REQUIRE_COPY(copy);
        copy.bytes()[0x14] = 0x4F;
        auto report = check(copy);
        EXPECT_TRUE(test::has_code(report, "HDR_VERSION")) << file << "\n" << test::describe(report);
    }
}

TEST(CheckHeader, PartialLastPageIsReported) {
    DamagedCopy copy(kJet3);
    REQUIRE_COPY(copy);
    copy.bytes().resize(copy.bytes().size() + 100, 0);
    auto report = check(copy);
    EXPECT_TRUE(test::has_code(report, "HDR_FILE_SIZE")) << test::describe(report);
}

TEST(CheckHeader, SortOrderAndCodePageDamageIsReported) {
    DamagedCopy jet3(kJet3);
    REQUIRE_COPY(jet3);
    jet3.edit_unmasked_header([](std::span<uint8_t> p) {
        p[0x3A] = 0xFF;  // LCID 0x04FF: no such language
        p[0x3C] = 0x34;  // code page 0x0434
    });
    auto report = check(jet3);
    EXPECT_EQ(test::codes_of(report), (std::vector<std::string>{"HDR_CODE_PAGE", "HDR_SORT_ORDER"}))
        << test::describe(report);

    DamagedCopy ace(kAce);
    REQUIRE_COPY(ace);
    ace.edit_unmasked_header([](std::span<uint8_t> p) { p[0x71] = 0x07; });  // sort version
    report = check(ace);
    EXPECT_TRUE(test::has_code(report, "HDR_SORT_ORDER")) << test::describe(report);
}

TEST(CheckHeader, CreationDateAndPasswordAreaDamageIsReported) {
    DamagedCopy date(kJet4);
    REQUIRE_COPY(date);
    date.edit_unmasked_header([](std::span<uint8_t> p) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        std::memcpy(p.data() + 0x72, &nan, 8);
    });
    auto report = check(date);
    EXPECT_TRUE(test::has_code(report, "HDR_CREATION_DATE")) << test::describe(report);

    DamagedCopy password(kJet4);
    REQUIRE_COPY(password);
    password.edit_unmasked_header([](std::span<uint8_t> p) { p[0x42 + 7] ^= 0x5A; });  // a char after the end
    report = check(password);
    EXPECT_EQ(test::codes_of(report), std::vector<std::string>{"HDR_PASSWORD_AREA"}) << test::describe(report);

    DamagedCopy jet3(kJet3);
    REQUIRE_COPY(jet3);
    jet3.edit_unmasked_header([](std::span<uint8_t> p) { p[0x42] = 0x01; });  // control character
    report = check(jet3);
    EXPECT_EQ(test::codes_of(report), std::vector<std::string>{"HDR_PASSWORD_AREA"}) << test::describe(report);
}

TEST(CheckHeader, BusyJet3CommitSlotIsReported) {
    DamagedCopy copy(kJet3);
    REQUIRE_COPY(copy);
    copy.bytes()[0x600 + 2 * 5] = 0xFF;  // slot 5 left writing
    auto report = check(copy);
    EXPECT_EQ(test::codes_of(report), std::vector<std::string>{"HDR_COMMIT_SLOTS"}) << test::describe(report);
}

TEST(CheckHeader, RealPasswordIsNoProblem) {
    DamagedCopy copy("mdb-reader/password/data/V2003_with-password.mdb");
    REQUIRE_COPY(copy);
    auto report = check(copy);
    EXPECT_FALSE(test::has_code(report, "HDR_PASSWORD_AREA")) << test::describe(report);
}

}  // namespace
