// Which fix answers which problem code. A code missing here blocks the repair (with a
// Spanish list of what cannot be repaired yet) unless the finding is tolerated.
#include <array>

#include "jet/fix_indexes.h"
#include "jet/fix_rows.h"
#include "jet/problems.h"
#include "jet/repair.h"

namespace jet {

namespace {

struct FixRow {
    std::string_view code;
    FixFunction fix;
    bool keeps_pages = false;  // rewrites bytes in place only: no map rebuild after it
};

constexpr std::array kFixes = {
    FixRow{"HDR_FILE_SIZE", fix_file_size},
    FixRow{"HDR_COMMIT_SLOTS", fix_commit_slots, true},
    FixRow{"HDR_SIGNATURE", fix_header_signature, true},
    FixRow{"HDR_ENGINE_NAME", fix_header_identity, true},
    FixRow{"HDR_VERSION", fix_header_identity, true},
    FixRow{"HDR_SORT_ORDER", fix_header_sort_order, true},
    FixRow{"HDR_CODE_PAGE", fix_header_code_page, true},
    FixRow{"HDR_CREATION_DATE", fix_header_creation_date, true},
    FixRow{"HDR_PASSWORD_AREA", fix_header_password_area, true},
    FixRow{"HDR_DATABASE_KEY", fix_header_database_key, true},
    FixRow{"PAGE_TYPE_UNKNOWN", fix_unknown_pages},
    FixRow{"DPAGE_HEADER_LOST", fix_lost_page_headers},
    FixRow{"CAT_TDEF_INVALID", fix_table_def_counts},
    FixRow{"CAT_ROW_UNREADABLE", fix_unreadable_catalog_rows},
    FixRow{"CAT_TABLE_ID_INVALID", fix_catalog_table_ids},
    FixRow{"CAT_TABLE_LOST", fix_lost_tables},
    FixRow{"CAT_ROW_GARBLED", fix_garbled_catalog_rows},
    FixRow{"TDEF_CHAIN", fix_table_def_chain},
    FixRow{"TDEF_LENGTH", fix_table_defs_or_drop},
    FixRow{"TDEF_LAYOUT", fix_table_defs_or_drop},
    FixRow{"TDEF_COLUMN_NUMBER", fix_column_entries_or_drop},
    FixRow{"TDEF_COLUMN_TYPE", fix_table_defs_or_drop},
    FixRow{"TDEF_VAR_INDEX", fix_column_entries_or_drop},
    FixRow{"TDEF_FIXED_OVERLAP", fix_column_entries_or_drop},
    FixRow{"TDEF_INDEX_COLUMN", fix_index_definitions},
    FixRow{"TDEF_INDEX_ROOT", fix_map_pointers},
    FixRow{"TDEF_INDEX_MAP", fix_map_pointers},
    FixRow{"TDEF_LOGICAL_INDEX", fix_index_definitions},
    FixRow{"TDEF_PRIMARY_KEYS", fix_table_def_counts},
    FixRow{"TDEF_ROWCOUNT_STALE", fix_row_counts, true},
    FixRow{"TDEF_AUTONUMBER_STALE", fix_autonumber_seeds, true},
    FixRow{"GMAP_INVALID", fix_usage_maps},
    FixRow{"MAP_PAGE_FREE_BUT_USED", fix_usage_maps},
    FixRow{"MAP_PAGE_SHARED_OWNER", fix_usage_maps},
    FixRow{"MAP_FREE_NOT_OWNED", fix_usage_maps},
    FixRow{"MAP_PAGE_WRONG_OWNER", fix_usage_maps},
    FixRow{"TABLE_PAGE_UNMAPPED", fix_usage_maps},
    FixRow{"DPAGE_COPY", fix_page_copies},
    FixRow{"LV_PAGE_UNMAPPED", fix_usage_maps},
    FixRow{"TDEF_MAP_POINTER", fix_map_pointers},
    FixRow{"TDEF_LV_MAP", fix_map_pointers},
    FixRow{"IDX_PAGE", fix_rebuild_indexes},
    FixRow{"IDX_TREE", fix_rebuild_indexes},
    FixRow{"IDX_MAP", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_MISSING", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_ORPHAN", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_WRONG", fix_rebuild_indexes},
    FixRow{"IDX_ENTRY_DUPLICATE", fix_rebuild_indexes},
    FixRow{"IDX_UNIQUE_DUPLICATE", fix_unique_duplicates},
    FixRow{"DPAGE_HEADER", fix_rows},
    FixRow{"ROW_OFFSET_BOUNDS", fix_rows},
    FixRow{"ROW_OFFSET_OVERLAP", fix_rows},
    FixRow{"DPAGE_FREE_SPACE", fix_rows},
    FixRow{"ROW_COLUMN_COUNT", fix_rows},
    FixRow{"ROW_LAYOUT", fix_rows},
    FixRow{"ROW_NULL_PLACE", fix_rows},
    FixRow{"ROW_VALUE_LENGTH", fix_rows},
    FixRow{"ROW_OVERFLOW_TARGET", fix_rows},
    FixRow{"ROW_OVERFLOW_SHARED", fix_rows},
    FixRow{"ROW_DELETED_COUNTED", fix_deleted_rows, true},
    FixRow{"LV_DEFINITION", fix_long_values},
    FixRow{"LV_POINTER", fix_long_values},
    FixRow{"LV_CHAIN_CYCLE", fix_long_values},
    FixRow{"LV_LENGTH", fix_long_values},
    FixRow{"LV_PROPERTY_BLOB", fix_long_values},
};

}  // namespace

FixFunction fix_for(std::string_view code) {
    for (const FixRow& row : kFixes)
        if (row.code == code) return row.fix;
    return nullptr;
}

bool fix_keeps_pages(std::string_view code) {
    for (const FixRow& row : kFixes)
        if (row.code == code) return row.keeps_pages;
    return false;
}

bool tolerated(const Finding& finding) { return finding.severity == Severity::Info; }

}  // namespace jet
