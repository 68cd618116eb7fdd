// Page 0 damaged in the ways a header gets damaged, on Jet 3, Jet 4 and ACE files: the
// repair re-derives what it can from the rest of the file, mdbtools then reads every row
// of the intact file, and the fields the rest of the file determines come back exactly.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include "jet/engine.h"
#include "corpus_support.h"
#include "jet/format/header.h"
#include "jet/repair/repair.h"
#include "repair_outcome.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;

namespace {

enum class HeaderDamage {
    Signature,      // bytes 0-3
    EngineName,     // the 16-byte engine name
    VersionByte,    // an unknown version
    VersionSwapped, // a known version of the other page size
    AllMarks,       // signature, engine name and version all gone: only page 2 vouches
    SortOrder,      // an LCID no Windows has
    CodePage,       // a code page no Windows has
    MaskedGarbage,  // the whole masked region overwritten (key, dates, password, ...)
};

const char* name_of(HeaderDamage d) {
    switch (d) {
    case HeaderDamage::Signature: return "Signature";
    case HeaderDamage::EngineName: return "EngineName";
    case HeaderDamage::VersionByte: return "VersionByte";
    case HeaderDamage::VersionSwapped: return "VersionSwapped";
    case HeaderDamage::AllMarks: return "AllMarks";
    case HeaderDamage::SortOrder: return "SortOrder";
    case HeaderDamage::CodePage: return "CodePage";
    case HeaderDamage::MaskedGarbage: return "MaskedGarbage";
    }
    return "?";
}

constexpr HeaderDamage kAllDamage[] = {HeaderDamage::Signature, HeaderDamage::EngineName,  HeaderDamage::VersionByte,
                                       HeaderDamage::VersionSwapped, HeaderDamage::AllMarks, HeaderDamage::SortOrder,
                                       HeaderDamage::CodePage,  HeaderDamage::MaskedGarbage};

// Files of every format, one or two of each; the password one keeps its password area.
const char* const kFiles[] = {
    "jackcess/V1997/test2V1997.mdb",       "jackcess/V1997/testIndexCodesV1997.mdb",
    "jackcess/V2000/test2V2000.mdb",       "mdb-reader/password/data/V2003_with-password.mdb",
    "jackcess/V2007/test2V2007.accdb",     "jackcess/V2010/test2V2010.accdb",
    "msaccess-vcs-addin/Testing/WithErrors/Testing.accdb", "jackcess/empty2016.accdb",
    "jackcess/empty2019.accdb",
};

bool jet3(const std::vector<uint8_t>& file) { return file[0x14] == 0x00; }
size_t masked_length(const std::vector<uint8_t>& file) { return jet3(file) ? 126 : 128; }

void xor_mask(std::vector<uint8_t>& file, size_t length) {
    const auto stream = jet::header_keystream();
    for (size_t i = 0; i < length; ++i) file[0x18 + i] ^= stream[i];
}

// Writes a 16-bit field inside the masked region (offset in the unmasked page).
void put_masked_u16(std::vector<uint8_t>& file, size_t at, uint16_t value) {
    const size_t length = masked_length(file);
    xor_mask(file, length);
    file[at] = uint8_t(value);
    file[at + 1] = uint8_t(value >> 8);
    xor_mask(file, length);
}

void apply(std::vector<uint8_t>& file, HeaderDamage d) {
    uint32_t state = 0x9E3779B9u;
    auto next = [&] { return uint8_t((state = state * 1664525u + 1013904223u) >> 24); };
    switch (d) {
    case HeaderDamage::Signature: std::memset(file.data(), 0xFF, 4); break;
    case HeaderDamage::EngineName: for (size_t i = 4; i < 20; ++i) file[i] = next(); break;
    case HeaderDamage::VersionByte: file[0x14] = 0x7F; break;
    case HeaderDamage::VersionSwapped: file[0x14] = jet3(file) ? 0x01 : 0x00; break;
    case HeaderDamage::AllMarks: for (size_t i = 0; i < 0x18; ++i) file[i] = next(); break;
    case HeaderDamage::SortOrder: put_masked_u16(file, jet3(file) ? 0x3A : 0x6E, 0xFFFF); break;
    case HeaderDamage::CodePage: put_masked_u16(file, 0x3C, 0x1234); break;
    case HeaderDamage::MaskedGarbage: for (size_t i = 0; i < masked_length(file); ++i) file[0x18 + i] = next(); break;
    }
}

struct Case {
    std::string file;
    HeaderDamage damage;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file << " / " << name_of(c.damage); }

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const char* file : kFiles)
        for (HeaderDamage d : kAllDamage) cases.push_back({file, d});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(info.param.file + "_" + name_of(info.param.damage));
}

std::vector<uint8_t> unmasked_page0(std::vector<uint8_t> file) {
    file.resize(jet3(file) ? 2048 : 4096);
    xor_mask(file, masked_length(file));
    return file;
}

uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

class HeaderRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(HeaderRepair, RederivesPageZeroAndKeepsEveryRow) {
    const Case& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";

    const std::vector<uint8_t> original = read_bytes(intact);
    std::vector<uint8_t> bytes = original;
    apply(bytes, c.damage);
    ASSERT_NE(bytes, original);
    TempFolder folder;
    const fs::path database = folder / intact.filename().string();
    write_bytes(database, bytes);

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database)) << name_of(c.damage);
    ASSERT_FALSE(report.findings.empty());
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false);

    // The fields the rest of the file determines come back as they were.
    const std::vector<uint8_t> repaired = read_bytes(database);
    ASSERT_EQ(repaired.size(), original.size());
    EXPECT_TRUE(std::equal(repaired.begin(), repaired.begin() + 4, original.begin()));
    const uint8_t was = original[0x14];
    const uint8_t now = repaired[0x14];
    if (was <= 0x01 || c.damage == HeaderDamage::SortOrder || c.damage == HeaderDamage::CodePage ||
        c.damage == HeaderDamage::MaskedGarbage || c.damage == HeaderDamage::Signature)
        EXPECT_EQ(now, was);
    else  // ACE: the lowest version that has every feature the tables use
        EXPECT_TRUE(now >= 0x02 && now <= was) << int(now) << " for " << int(was);
    EXPECT_EQ(std::memcmp(&repaired[4], now >= 0x02 ? "Standard ACE DB" : "Standard Jet DB", 16), 0);
    const auto before = unmasked_page0(original);
    const auto after = unmasked_page0(repaired);
    EXPECT_EQ(u16(after, 0x3C), u16(before, 0x3C)) << "code page";
    const size_t sort = jet3(original) ? 0x3A : 0x6E;
    EXPECT_EQ(u16(after, sort), u16(before, sort)) << "sort order";
    if (!jet3(original)) {
        EXPECT_EQ(after[0x71], before[0x71]) << "sort version";
    }
    EXPECT_EQ(u16(after, 0x3E) | u16(after, 0x40), 0) << "database key";
    // Nothing beyond page 0 changes.
    EXPECT_TRUE(std::equal(repaired.begin() + after.size(), repaired.end(), original.begin() + after.size()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, HeaderRepair, ::testing::ValuesIn(sampled(all_cases())), case_name);

// A page 0 whose marks are all gone over a file whose page 2 is not the catalog stays
// refused: the rest of the file must vouch for it.
TEST(HeaderRepairRefusal, NoEvidenceNoDatabase) {
    const fs::path intact = corpus_dir() / "jackcess/V2000/test2V2000.mdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    std::vector<uint8_t> bytes = read_bytes(intact);
    apply(bytes, HeaderDamage::AllMarks);
    std::memset(&bytes[2 * 4096], 0, 64);  // page 2 no longer reads as a table definition
    TempFolder folder;
    const fs::path database = folder / "sin_pruebas.mdb";
    write_bytes(database, bytes);
    EXPECT_THROW(jet::repair_database(database), jet::EngineError);
    EXPECT_EQ(read_bytes(database), bytes);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"sin_pruebas.mdb"});
}
