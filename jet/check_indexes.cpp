// Pass 4b: each real index of each table: its pages and tree shape, its owned-page map
// against the pages the tree reaches, and, when its keys can be built, its entries
// against the table's live rows (jet/index_verify.h). A damaged index usually repeats
// one problem on many rows; a few cases per index and code are enough to say so.
#include <algorithm>
#include <map>
#include <optional>

#include "jet/check_memo.h"
#include "jet/check_passes.h"
#include "jet/index_rebuild.h"
#include "jet/index_verify.h"
#include "jet/unique_keys.h"

namespace jet {
namespace {

constexpr size_t kCasesPerIndex = 5;

Problem data_problem(IndexDataIssueKind kind) {
    switch (kind) {
        case IndexDataIssueKind::MissingEntry: return Problem::IdxEntryMissing;
        case IndexDataIssueKind::EntryForNoRow: return Problem::IdxEntryOrphan;
        case IndexDataIssueKind::KeyMismatch: return Problem::IdxEntryKey;
        case IndexDataIssueKind::DuplicateEntry: return Problem::IdxEntryDuplicate;
        case IndexDataIssueKind::UniqueViolation: return Problem::IdxUniqueDuplicate;
    }
    return Problem::IdxEntryKey;
}

std::string page_list(const std::vector<uint32_t>& pages) {
    std::string out;
    for (size_t i = 0; i < pages.size() && i < kCasesPerIndex; ++i) out += (i ? ", " : "") + std::to_string(pages[i]);
    if (pages.size() > kCasesPerIndex) out += " y " + std::to_string(pages.size() - kCasesPerIndex) + " más";
    return out;
}

// Repeated keys are reported from the rows, one finding per row the repair takes out, so
// the report names the row that stays; the tree's view of them would say less.
void report(CheckContext& ctx, const CheckedTable& t, const IndexVerdict& v) {
    const std::string label = real_index_label(*t.def, v.real_index);
    const std::string where = object::index(t.name, label);
    std::map<Problem, size_t> seen;
    auto add = [&](Problem p, const std::string& detail) {
        if (seen[p]++ < kCasesPerIndex) ctx.sink.add(p, where, {label, detail});
    };
    for (const IndexTreeIssue& issue : v.tree.issues)
        add(issue.kind == IndexTreeIssueKind::PageInvalid ? Problem::IdxPage : Problem::IdxTree, issue.detail);
    if (!v.unmapped_pages.empty())
        add(Problem::IdxMap, "el árbol usa páginas que el mapa no incluye (" + page_list(v.unmapped_pages) + ")");
    if (!v.stray_pages.empty())
        add(Problem::IdxMap, "el mapa incluye páginas que el árbol no usa (" + page_list(v.stray_pages) + ")");
    for (const IndexDataIssue& issue : v.data.issues)
        if (issue.kind != IndexDataIssueKind::UniqueViolation) add(data_problem(issue.kind), issue.detail);
}

bool unique_index_in_doubt(const CheckedTable& t, const std::vector<IndexVerdict>& verdicts) {
    for (const IndexVerdict& v : verdicts)
        if (unique_real_index(*t.def, v.real_index) && !v.data.issues.empty()) return true;
    return false;
}

}  // namespace

namespace {

// Verifies one table's indexes and reports what is wrong. Returns false when the verdict
// leaned on more than the table's own pages (the relationships that pick which repeated
// row stays), so it must not be reused.
bool check_table_indexes(CheckContext& ctx, const CheckedTable& t,
                         std::optional<std::vector<Relationship>>& relationships) {
    Faults faults;  // row faults are the row pass's to report
    const std::vector<IndexVerdict> verdicts = verify_table_indexes(ctx.db, *t.def, t.name, t.rows_readable, faults);
    for (const IndexVerdict& v : verdicts) report(ctx, t, v);
    if (!unique_index_in_doubt(t, verdicts)) return true;
    if (!relationships) relationships = read_relationships(ctx.db);
    for (const DuplicateKeyRow& d : duplicate_key_rows(ctx.db, *t.def, t.name, *relationships))
        ctx.sink.add(Problem::IdxUniqueDuplicate, object::table_row(t.name, d.row.page, d.row.row),
                     {d.index_name, duplicate_key_text(d)});
    return false;
}

// The same, noting what it read and found for the re-check of a repaired copy.
void check_and_record(CheckContext& ctx, const CheckedTable& t,
                      std::optional<std::vector<Relationship>>& relationships) {
    CheckMemo::TableIndexes noted{t.tdef_page, t.name, t.rows_readable, t.def->pages, {}};
    ctx.file.set_read_log(&noted.pages);
    ctx.sink.set_tap(&noted.findings);
    bool own_pages_only = false;
    try {
        own_pages_only = check_table_indexes(ctx, t, relationships);
    } catch (...) {
        ctx.file.set_read_log(nullptr);
        ctx.sink.set_tap(nullptr);
        throw;
    }
    ctx.file.set_read_log(nullptr);
    ctx.sink.set_tap(nullptr);
    if (!own_pages_only) return;
    std::sort(noted.pages.begin(), noted.pages.end());
    noted.pages.erase(std::unique(noted.pages.begin(), noted.pages.end()), noted.pages.end());
    ctx.memo->record(std::move(noted), ctx.file.page_count());
}

}  // namespace

void check_indexes(CheckContext& ctx) {
    std::optional<std::vector<Relationship>> relationships;  // read at the first repeated key
    for (const CheckedTable& t : ctx.tables) {
        if (!t.def || !t.def->complete || t.def->real_indexes.empty()) continue;
        if (!ctx.memo) {
            check_table_indexes(ctx, t, relationships);
        } else if (ctx.memo->recording()) {
            check_and_record(ctx, t, relationships);
        } else if (const CheckMemo::TableIndexes* earlier = ctx.memo->reusable(t, ctx.file.page_count())) {
            for (const auto& [problem, finding] : earlier->findings) ctx.sink.add(problem, finding);
        } else {
            check_table_indexes(ctx, t, relationships);
        }
    }
}

}  // namespace jet
