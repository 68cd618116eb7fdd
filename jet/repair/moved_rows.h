#pragma once
// Rows Access moved to another page when they grew: the old slot keeps a 4-byte pointer
// (overflow flag), the new one the row, flagged with the deleted bit alone so that scans
// skip it. When the pointer's bytes are lost nothing names the row any more, and it reads
// as deleted to us while other readers take it where it lies.
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace jet {

class Database;
class FixContext;
struct Layout;

struct MovedRow {
    uint32_t page = 0;
    uint16_t row = 0;
};

// Moved rows on the table's pages (but `skip`) that no overflow pointer on those pages, nor
// one of `pointed` (page, row), names.
std::vector<MovedRow> unnamed_moved_rows(Database& db, uint32_t tdef_page, const std::vector<uint32_t>& pages,
                                         uint32_t skip, std::set<std::pair<uint32_t, uint16_t>> pointed);

// Clears the moved row's flag: an ordinary row where it lies.
void make_ordinary_row(FixContext& context, const Layout& layout, const MovedRow& moved);

}  // namespace jet
