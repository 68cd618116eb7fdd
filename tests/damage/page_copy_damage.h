#pragma once
// Misdirected writes: a data page of a user table written over with a byte-for-byte copy
// of another data page, made deterministically on the bytes of an intact file. The engine's
// reader only picks the two pages; the copy itself is written here.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

enum class CopyKind {
    SameTable,   // a page over another page of the same table (one without a unique index if any)
    OtherTable,  // a page of one table over a data page of another
    UniqueKey,   // a page over another page of the same table, repeating its unique keys
};

const char* copy_kind_name(CopyKind kind);
std::vector<CopyKind> all_copy_kinds();

struct PageCopyDamage {
    std::string table;         // the table whose page was overwritten
    std::string source_table;  // the table the copied page belongs to
    uint32_t source = 0, target = 0;
    std::size_t rows_lost = 0;    // live rows the overwritten page held
    std::size_t rows_copied = 0;  // live rows of the copied page
};

std::optional<PageCopyDamage> apply_page_copy(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                              CopyKind kind);

}  // namespace damage
