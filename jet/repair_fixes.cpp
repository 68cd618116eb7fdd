// Which fix answers which problem code. A code missing here blocks the repair (with a
// Spanish list of what cannot be repaired yet) unless the finding is tolerated.
#include <array>

#include "jet/fix_rows.h"
#include "jet/problems.h"
#include "jet/repair.h"

namespace jet {

namespace {

struct FixRow {
    std::string_view code;
    FixFunction fix;
};

constexpr std::array kFixes = {
    FixRow{"HDR_FILE_SIZE", fix_file_size},
    FixRow{"HDR_COMMIT_SLOTS", fix_commit_slots},
    FixRow{"DPAGE_HEADER", fix_rows},
    FixRow{"ROW_OFFSET_BOUNDS", fix_rows},
    FixRow{"ROW_OFFSET_OVERLAP", fix_rows},
    FixRow{"DPAGE_FREE_SPACE", fix_rows},
    FixRow{"ROW_COLUMN_COUNT", fix_rows},
    FixRow{"ROW_LAYOUT", fix_rows},
    FixRow{"ROW_VALUE_LENGTH", fix_rows},
    FixRow{"ROW_OVERFLOW_TARGET", fix_rows},
    FixRow{"ROW_OVERFLOW_SHARED", fix_rows},
    FixRow{"LV_DEFINITION", fix_long_values},
    FixRow{"LV_POINTER", fix_long_values},
    FixRow{"LV_CHAIN_CYCLE", fix_long_values},
    FixRow{"LV_LENGTH", fix_long_values},
};

}  // namespace

FixFunction fix_for(std::string_view code) {
    for (const FixRow& row : kFixes)
        if (row.code == code) return row.fix;
    return nullptr;
}

bool tolerated(const Finding& finding) {
    return finding.severity == Severity::Info && fix_for(finding.code) == nullptr;
}

}  // namespace jet
