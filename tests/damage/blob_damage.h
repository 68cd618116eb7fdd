#pragma once
// A sector of a long-value page that never reached the disk: 512 zero bytes over an LVAL
// row holding an Access system table's value, made deterministically on the bytes of an
// intact file. The engine's reader only picks the value; the zeros are written here.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

// The sector holding the middle of the value's first LVAL row, or (PageStart) the first
// sector of its page: the page header and slot table, so every value on the page is lost.
enum class BlobKind {
    CatalogProperties,           // a catalog row's property blob (MSysObjects.LvProp)
    CatalogPropertiesPageStart,
    SystemLongValue,             // a long value of another table Access flags system (MSysAccessStorage, ...)
    SystemLongValuePageStart,
};

const char* blob_kind_name(BlobKind kind);
std::vector<BlobKind> all_blob_kinds();

struct BlobDamage {
    std::string table;   // the system table whose value was hit
    std::string column;
    uint32_t page = 0;   // the LVAL page
    std::size_t sector = 0;
    std::string note;
};

// Zeroes a sector of the LVAL page holding the first value of that kind stored outside its
// row (table order, then row order); nothing when there is none.
std::optional<BlobDamage> apply_blob_damage(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                            BlobKind kind);

}  // namespace damage
