#pragma once
// The table of every structural problem the check knows. Each problem has a stable code
// (the tests and other programs key on it), a severity, a Spanish text saying what was
// found, a Spanish text saying what the repair does about it and the fix that does it.
// Adding a check means adding an enumerator here, a row in problems.cpp and a few lines
// in one pass.
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "jet/base/report.h"

namespace jet {

// The fix of a problem, named as the repair's function that handles every finding of that
// problem at once; jet/repair/repair_fixes.cpp maps each name to its function.
enum class Fix {
    none,
    fix_autonumber_seeds,
    fix_catalog_table_ids,
    fix_column_entries_or_drop,
    fix_commit_slots,
    fix_deleted_rows,
    fix_file_limit,
    fix_file_size,
    fix_garbled_catalog_rows,
    fix_header_code_page,
    fix_header_creation_date,
    fix_header_database_key,
    fix_header_identity,
    fix_header_password_area,
    fix_header_signature,
    fix_header_sort_order,
    fix_index_definitions,
    fix_long_values,
    fix_lost_page_headers,
    fix_lost_tables,
    fix_map_pointers,
    fix_page_copies,
    fix_rebuild_indexes,
    fix_row_counts,
    fix_rows,
    fix_table_def_chain,
    fix_table_def_counts,
    fix_table_defs_or_drop,
    fix_unique_duplicates,
    fix_unknown_pages,
    fix_unreadable_catalog_rows,
    fix_usage_maps,
    count  // keep last: number of names
};

enum class Problem {
    // Page 0
    HdrSignature,
    HdrEngineName,
    HdrVersion,
    HdrFileTooLarge,      // before HdrFileSize: cutting back to the limit settles a partial page past it
    HdrFileTooLargeUsed,
    HdrFileSize,
    HdrSortOrder,
    HdrCodePage,
    HdrCreationDate,
    HdrPasswordArea,
    HdrDatabaseKey,
    HdrCommitSlots,
    // Pages and the global page map
    PageTypeUnknown,
    DpageHeaderLost,  // before the map fixes: they would drop the page from its table's map
    GmapInvalid,
    MapPageFreeButUsed,
    MapPageSharedOwner,
    MapPageLeak,
    MapFreeNotOwned,
    MapPageWrongOwner,
    TablePageUnmapped,
    DpageCopy,
    // Catalog
    CatTdefInvalid,
    CatRowUnreadable,
    CatTableIdInvalid,
    CatTableSharedTdef,
    CatDuplicateName,
    CatTableLost,
    CatRowGarbled,
    // Table definitions
    TdefChain,
    TdefLength,
    TdefLayout,
    TdefColumnNumber,
    TdefColumnType,
    TdefVarIndex,
    TdefFixedOverlap,
    TdefMapPointer,
    TdefIndexColumn,
    TdefIndexRoot,
    TdefIndexMap,
    TdefLogicalIndex,
    TdefPrimaryKeys,
    TdefLvMap,
    TdefRowcountStale,
    TdefAutonumberStale,
    // Data pages and rows
    DpageHeader,
    RowOffsetBounds,
    RowOffsetOverlap,
    DpageFreeSpace,
    RowColumnCount,
    RowLayout,
    RowNullPlace,
    RowValueLength,
    RowOverflowTarget,
    RowOverflowShared,
    RowDeletedCounted,
    // Long values
    LvDefinition,
    LvPointer,
    LvChainCycle,
    LvLength,
    LvPageUnmapped,
    LvPropertyBlob,
    // Indexes (repeated unique keys first: their fix must run before any index rebuild)
    IdxUniqueDuplicate,
    IdxPage,
    IdxTree,
    IdxMap,
    IdxEntryMissing,
    IdxEntryOrphan,
    IdxEntryKey,
    IdxEntryWrong,
    IdxEntryDuplicate,
    Count  // keep last: number of problems
};

// How the fix text of a problem the repair refuses begins: such a finding blocks the repair.
inline constexpr std::string_view kNoFixText = "la reparación no puede arreglarlo";

struct ProblemInfo {
    Problem id;
    std::string_view code;      // stable, e.g. "TDEF_ROWCOUNT_STALE"
    Severity severity;
    std::string_view found;     // what was found; {0}, {1}, ... are filled per finding
    std::string_view fix;       // what the repair does about it
    // The fix; none for notes (severity Info) left as they are and for the problems the
    // repair refuses (their `fix` begins with kNoFixText).
    Fix fixed_by = Fix::none;
    bool keeps_pages = false;   // the fix rewrites bytes in place only (FixContext::run)
    std::string_view place;     // the object every finding names, when it is one fixed structure
};

// Every problem in enumerator order.
std::span<const ProblemInfo> problem_table();
const ProblemInfo& problem_info(Problem p);
// nullptr when no problem has that code.
const ProblemInfo* find_problem(std::string_view code);

// Replaces {0}, {1}, ... in tmpl by args; an index without an argument is left as written.
std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args);

// The object text of a finding at `where`: its most precise structure (an index, a row, a
// column, a page, in that order) within its table, "página N" outside tables, "archivo"
// for the whole file.
std::string object_text(const Location& where);

Finding make_finding(Problem p, Location where, std::string description);
Finding make_finding(Problem p, Location where, std::initializer_list<std::string_view> args);

}  // namespace jet
