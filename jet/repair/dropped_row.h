#pragma once
// What the recovery file keeps of a row a fix takes out of its table: its raw bytes and
// every value that still decodes, as text. Shared by every fix that drops rows, so the
// recovery file reads the same whatever the reason.
#include <cstdint>
#include <string>

#include "jet/base/bytes.h"
#include "jet/file/recovery_file.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/base/value.h"

namespace jet {


// `row` is the stored row (the overflow target for a moved row); `page` and `slot` say
// where the row was. values stays empty when the row does not decode at all.
RecoveredItem dropped_row_item(const TableDef& table, const DecodeContext& context, std::string table_name,
                               uint32_t page, uint16_t slot, Bytes row, std::string reason);

}  // namespace jet
