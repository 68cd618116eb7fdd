// Hostile input: pages zeroed, filled with noise or bit-flipped (fixed seeds), files cut
// anywhere. The check must end, report or refuse, never crash (run under ASan + UBSan).
#include <random>

#include "jet/engine.h"
#include "check_support.h"

namespace {

const char* const kFiles[] = {"jackcess/V1997/test2V1997.mdb", "jackcess/V2003/overflowTestV2003.mdb",
                              "jackcess/V2010/test2V2010.accdb"};

// Runs the check; returns the findings count or -1 when the file was refused.
long check_survives(const std::filesystem::path& path) {
    try {
        return static_cast<long>(jet::check_database(path).findings.size());
    } catch (const jet::EngineError& e) {
        EXPECT_GT(std::string(e.what()).size(), 10u);
        return -1;
    }
}

enum class Spoil { Zero, Noise, Flips };

void spoil(std::vector<uint8_t>& bytes, size_t offset, size_t length, Spoil how, uint32_t seed) {
    std::mt19937 rng(seed);
    switch (how) {
    case Spoil::Zero: std::fill_n(bytes.begin() + long(offset), length, 0); break;
    case Spoil::Noise:
        for (size_t i = 0; i < length; ++i) bytes[offset + i] = uint8_t(rng());
        break;
    case Spoil::Flips:
        for (int i = 0; i < 24; ++i) bytes[offset + rng() % length] ^= uint8_t(1u << (rng() % 8));
        break;
    }
}

TEST(CheckHostile, EverySpoiledPageIsSurvivedAndWipedOnesAreNoticed) {
    for (const char* file : kFiles) {
        test::DamagedCopy original(file);
        REQUIRE_COPY(original);
        const uint32_t ps = original.page_size();
        const uint32_t pages = uint32_t(original.bytes().size() / ps);
        for (Spoil how : {Spoil::Zero, Spoil::Noise, Spoil::Flips}) {
            size_t noticed = 0, changed = 0;
            for (uint32_t p = 0; p < pages; ++p) {
                test::DamagedCopy copy(file);
                const auto before = copy.bytes();
                spoil(copy.bytes(), size_t(p) * ps, ps, how, p * 7919u + uint32_t(how));
                if (copy.bytes() == before) continue;
                ++changed;
                SCOPED_TRACE(std::string(file) + " página " + std::to_string(p));
                if (check_survives(copy.save()) != 0) ++noticed;
            }
            // Some pages are free or unused; most wiped pages must be seen. Bit flips often
            // land in values or unused bytes, which no structure can betray.
            if (how != Spoil::Flips) {
                EXPECT_GT(noticed, changed / 3) << file << " modo " << int(how);
            }
        }
    }
}

TEST(CheckHostile, FilesCutAnywhereAreSurvived) {
    for (const char* file : kFiles) {
        test::DamagedCopy original(file);
        REQUIRE_COPY(original);
        const size_t size = original.bytes().size();
        std::mt19937 rng(42);
        std::vector<size_t> cuts = {1, 3, 100, 2047, 2048, 4095, 4096, 3 * 4096 + 1, size / 2, size - 1};
        for (int i = 0; i < 10; ++i) cuts.push_back(rng() % size);
        for (size_t cut : cuts) {
            if (cut == 0 || cut >= size) continue;
            test::DamagedCopy copy(file);
            copy.bytes().resize(cut);
            SCOPED_TRACE(std::string(file) + " cortado en " + std::to_string(cut));
            EXPECT_NE(check_survives(copy.save()), 0) << "un archivo cortado no puede estar limpio";
        }
    }
}

TEST(CheckHostile, CyclesEverywhereEnd) {
    // Every u32 that could be a page pointer on the definition pages and the first data
    // pages is pointed back at its own page: chains, maps and values that loop.
    test::DamagedCopy original("jackcess/V2003/test2V2003.mdb");
    REQUIRE_COPY(original);
    const uint32_t ps = original.page_size();
    for (uint32_t p = 2; p < 12; ++p) {
        test::DamagedCopy copy("jackcess/V2003/test2V2003.mdb");
        auto& b = copy.bytes();
        for (size_t at = size_t(p) * ps + 4; at + 4 <= size_t(p + 1) * ps; at += 97) {
            b[at] = uint8_t(p);
            b[at + 1] = b[at + 2] = b[at + 3] = 0;
        }
        SCOPED_TRACE("página " + std::to_string(p));
        check_survives(copy.save());
    }
}

}  // namespace
