// Which fix answers which problem code. A code missing here blocks the repair (with a
// Spanish list of what cannot be repaired yet) unless the finding is tolerated.
#include <array>

#include "jet/fix_indexes.h"
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
    FixRow{"TDEF_ROWCOUNT_STALE", fix_row_counts},
    FixRow{"TDEF_AUTONUMBER_STALE", fix_autonumber_seeds},
    FixRow{"IDX_PAGE", fix_rebuild_indexes},
    FixRow{"IDX_TREE", fix_rebuild_indexes},
    FixRow{"IDX_MAP", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_MISSING", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_ORPHAN", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_KEY", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_DUPLICATE", fix_rebuild_indexes},
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
