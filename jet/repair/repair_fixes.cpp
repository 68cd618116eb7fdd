// Which fix answers which problem: the problem table says (jet/check/problems.cpp). A problem
// without a fix blocks the repair (with a Spanish list of what cannot be repaired) unless
// the finding is tolerated.
#include <array>
#include <cstddef>

#include "jet/engine.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/fix_rows.h"
#include "jet/check/problems.h"
#include "jet/repair/repair.h"

namespace jet {

namespace {

struct FixRow {
    Fix name;
    FixFunction function;
};

// One row per fix, in the order of its name (checked below).
constexpr std::array kFixes = {
    FixRow{Fix::fix_autonumber_seeds, fix_autonumber_seeds},
    FixRow{Fix::fix_catalog_table_ids, fix_catalog_table_ids},
    FixRow{Fix::fix_column_entries_or_drop, fix_column_entries_or_drop},
    FixRow{Fix::fix_commit_slots, fix_commit_slots},
    FixRow{Fix::fix_deleted_rows, fix_deleted_rows},
    FixRow{Fix::fix_file_limit, fix_file_limit},
    FixRow{Fix::fix_file_size, fix_file_size},
    FixRow{Fix::fix_garbled_catalog_rows, fix_garbled_catalog_rows},
    FixRow{Fix::fix_header_code_page, fix_header_code_page},
    FixRow{Fix::fix_header_creation_date, fix_header_creation_date},
    FixRow{Fix::fix_header_database_key, fix_header_database_key},
    FixRow{Fix::fix_header_identity, fix_header_identity},
    FixRow{Fix::fix_header_password_area, fix_header_password_area},
    FixRow{Fix::fix_header_signature, fix_header_signature},
    FixRow{Fix::fix_header_sort_order, fix_header_sort_order},
    FixRow{Fix::fix_index_definitions, fix_index_definitions},
    FixRow{Fix::fix_long_values, fix_long_values},
    FixRow{Fix::fix_lost_page_headers, fix_lost_page_headers},
    FixRow{Fix::fix_lost_tables, fix_lost_tables},
    FixRow{Fix::fix_map_pointers, fix_map_pointers},
    FixRow{Fix::fix_page_copies, fix_page_copies},
    FixRow{Fix::fix_rebuild_indexes, fix_rebuild_indexes},
    FixRow{Fix::fix_row_counts, fix_row_counts},
    FixRow{Fix::fix_rows, fix_rows},
    FixRow{Fix::fix_table_def_chain, fix_table_def_chain},
    FixRow{Fix::fix_table_def_counts, fix_table_def_counts},
    FixRow{Fix::fix_table_defs_or_drop, fix_table_defs_or_drop},
    FixRow{Fix::fix_unique_duplicates, fix_unique_duplicates},
    FixRow{Fix::fix_unknown_pages, fix_unknown_pages},
    FixRow{Fix::fix_unreadable_catalog_rows, fix_unreadable_catalog_rows},
    FixRow{Fix::fix_usage_maps, fix_usage_maps},
};
static_assert(kFixes.size() + 1 == static_cast<std::size_t>(Fix::count), "every fix name needs its function");

constexpr bool rows_in_name_order() {
    for (std::size_t i = 0; i < kFixes.size(); ++i)
        if (static_cast<std::size_t>(kFixes[i].name) != i + 1) return false;
    return true;
}
static_assert(rows_in_name_order(), "fix rows must follow the order of their names");

FixFunction function_of(Fix name) {
    return name == Fix::none ? nullptr : kFixes[static_cast<std::size_t>(name) - 1].function;
}

}  // namespace

FixFunction fix_for(Problem problem) { return function_of(problem_info(problem).fixed_by); }

FixFunction fix_for(std::string_view code) {
    const ProblemInfo* info = find_problem(code);
    return info ? function_of(info->fixed_by) : nullptr;
}

bool fix_keeps_pages(Problem problem) { return problem_info(problem).keeps_pages; }

bool has_fix(const Finding& finding) { return fix_for(finding.problem) != nullptr; }

}  // namespace jet
