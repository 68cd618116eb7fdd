#pragma once
// Deterministic damage for tests: takes the bytes of an intact database and applies one
// chosen kind of damage at a chosen place. It finds its targets with its own small
// reading of the format (not the engine's), so a fault in the engine's reader cannot hide
// the damage from the test.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

enum class Kind {
    ZeroPage,          // every byte of the page becomes 0
    GarbagePage,       // the page is overwritten with pseudo-random bytes (fixed seed)
    TearPageTail,      // the second half of the page becomes 0 (a write cut short)
    TruncateMidPage,   // the file ends in the middle of its last page
    TruncateAtPage,    // whole pages missing at the end: `value` of them, else an eighth (at least one)
    TruncateHalf,      // the second half of the pages missing
    TornAppend,        // half a page of garbage past the last whole page
    StaleRowCount,     // the stored row count of a table definition is wrong
    CommitSlotsBusy,   // Jet 3 commit slots left busy in page 0
    FlipMapBit,        // a page's bit in the global page map (page 1 row 0) is flipped
    BreakLvChain,      // the next-row pointer of a long-value chain row points outside the file
    RowOffsetOutside,  // a row's offset on a data page points past the page
};

const char* kind_name(Kind kind);

struct Damage {
    Kind kind;
    uint32_t page = 0;     // target page (ignored where the kind finds its own target)
    uint32_t value = 0;    // kind-specific: row count to store, row slot, ...
    uint32_t seed = 1234;  // for garbage
};

struct Layout {
    uint32_t page_size;
    bool jet3;
};

Layout layout_of(const std::vector<uint8_t>& file);

// Applies the damage in place. Returns a Spanish-free, test-readable note of what was
// done, or nothing when the file has no suitable target for this kind.
std::optional<std::string> apply(std::vector<uint8_t>& file, const Damage& damage);

// Targets the injector can find by itself.
std::optional<uint32_t> first_user_table_def(const std::vector<uint8_t>& file);
std::optional<uint32_t> first_lval_page(const std::vector<uint8_t>& file);
std::optional<uint32_t> first_data_page_with_rows(const std::vector<uint8_t>& file);

}  // namespace damage
