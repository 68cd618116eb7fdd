#pragma once
// Row-level helpers shared by the catalog and table-definition fixes.
#include <cstdint>
#include <optional>
#include <string>

#include "jet/format/table_def.h"

namespace jet {

class FixContext;

// Where a live row's bytes are, past any overflow hops from its slot.
struct StoredRow {
    uint32_t page;
    uint16_t slot;
    uint16_t start;
    uint16_t end;
};
std::optional<StoredRow> locate_stored_row(const FixContext& context, uint32_t page, uint16_t slot);

// Saves a row (values that decode, raw bytes) to the recovery file before it is dropped.
void save_row(FixContext& context, const TableDef& def, const std::string& table, uint32_t page, uint16_t slot,
              const std::string& reason);

// Flags a row slot deleted (0xC000, as Access does), and for a moved row the slot holding
// its bytes too; the bytes stay in the page.
void delete_row_slot(FixContext& context, uint32_t page, uint16_t slot);

}  // namespace jet
