#pragma once
// Damage to the catalog (MSysObjects) made on the bytes of an intact file with this
// file's own small reading of the format.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

// Where the live catalog row whose Id is `tdef` sits: its slot entry and its Id field (the
// first fixed column of every catalog row).
struct CatalogRowAt {
    std::size_t slot_at = 0;
    std::size_t id_at = 0;
};
std::optional<CatalogRowAt> find_catalog_row(const std::vector<uint8_t>& file, uint32_t tdef);

// Data pages whose owner field names `tdef`, in page order.
std::vector<uint32_t> data_pages_owned_by(const std::vector<uint8_t>& file, uint32_t tdef);

// Flags deleted the live catalog row whose Id is `tdef` (Id is the first fixed column of
// every catalog row) and lowers the catalog's stored row count by one, so the row is
// gone as a deletion would leave it, apart from its index entries. False when no such
// row is found.
bool lose_catalog_row(std::vector<uint8_t>& file, uint32_t tdef);

// Leaves no room on any catalog data page: the free area of each becomes one more row,
// flagged deleted (as a deletion leaves its bytes until the file is compacted). Returns
// the number of pages filled.
std::size_t fill_catalog_pages(std::vector<uint8_t>& file);

struct TableTarget {
    std::string name;
    uint32_t tdef_page = 0;
};

// The local user table with the most rows as mdbtools exports them; its definition page
// as the engine's catalog names it.
std::optional<TableTarget> largest_user_table(const std::filesystem::path& intact);

}  // namespace damage
