#pragma once
// Damage as disks make it: one 512-byte sector of a used page that never reached the disk
// and reads back as zeros. The engine's reader only picks the page and the sector; the
// zeros are written here on the bytes of an intact file.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

enum class SectorKind {
    UserFirst,      // a user table's data page: header and row-offset table
    UserMiddle,     // ... a sector between the first and the last, inside its rows
    UserLast,       // ... the last sector (the first rows written)
    CatalogFirst,   // a catalog data page holding tables: header and row-offset table
    CatalogRows,    // ... a sector inside its rows, past the first, where a table's row lies
    IndexPage,      // the first sector of a user table's index page
    TableDefPage,   // the last sector holding a user table's definition
    UsageMapPage,   // the sector holding a user table's page map row
};

const char* sector_kind_name(SectorKind kind);
// Kinds whose every case the repair meets today, and those it does not yet meet on every
// corpus file (run them with --gtest_also_run_disabled_tests; none at present).
std::vector<SectorKind> met_sector_kinds();
std::vector<SectorKind> unmet_sector_kinds();

struct SectorDamage {
    uint32_t page = 0;
    std::size_t sector = 0;  // byte offset of the zeroed sector in the page
    std::string note;
};

// Zeros the sector in bytes (the file's contents, also at `intact` for the reader).
std::optional<SectorDamage> apply_sector_damage(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                                SectorKind kind);

}  // namespace damage
