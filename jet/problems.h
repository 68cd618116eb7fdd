#pragma once
// The table of every structural problem the check knows. Each problem has a stable code
// (the repair and the tests key on it), a severity, a Spanish text saying what was found
// and a Spanish text saying what the repair does about it. Adding a check means adding an
// enumerator here, a row in problems.cpp and a few lines in one pass.
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "jet/engine.h"

namespace jet {

enum class Problem {
    // Page 0
    HdrSignature,
    HdrEngineName,
    HdrVersion,
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

struct ProblemInfo {
    Problem id;
    std::string_view code;      // stable, e.g. "TDEF_ROWCOUNT_STALE"
    Severity severity;
    std::string_view found;     // what was found; {0}, {1}, ... are filled per finding
    std::string_view fix;       // what the repair does about it
};

// Every problem in enumerator order.
std::span<const ProblemInfo> problem_table();
const ProblemInfo& problem_info(Problem p);
// nullptr when no problem has that code.
const ProblemInfo* find_problem(std::string_view code);

// Replaces {0}, {1}, ... in tmpl by args; an index without an argument is left as written.
std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args);

Finding make_finding(Problem p, std::string object, std::initializer_list<std::string_view> args);

}  // namespace jet
