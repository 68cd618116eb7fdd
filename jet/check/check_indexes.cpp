// Pass 4b: each real index of each table: its pages and tree shape, its owned-page map
// against the pages the tree reaches, and, when its keys can be built, its entries
// against the table's live rows (jet/index/index_verify.h). A damaged index usually repeats
// one problem on many rows; a few cases per index and code are enough to say so.
#include <algorithm>
#include <map>
#include <optional>

#include "jet/check/check_memo.h"
#include "jet/check/check_passes.h"
#include "jet/index/index_rebuild.h"
#include "jet/index/index_verify.h"
#include "jet/index/unique_keys.h"

namespace jet {
namespace {

constexpr size_t kCasesPerIndex = 5;

Problem data_problem(IndexDataIssueKind kind) {
    switch (kind) {
        case IndexDataIssueKind::MissingEntry: return Problem::IdxEntryMissing;
        case IndexDataIssueKind::EntryForNoRow: return Problem::IdxEntryOrphan;
        case IndexDataIssueKind::KeyMismatch: return Problem::IdxEntryKey;
        case IndexDataIssueKind::KeyWrong: return Problem::IdxEntryWrong;
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
using Findings = std::vector<std::pair<Problem, Finding>>;

void report(const CheckedTable& t, const IndexVerdict& v, Findings& out) {
    const std::string label = real_index_label(*t.def, v.real_index);
    Location index = object::index(t.name, label);
    index.index = static_cast<uint32_t>(v.real_index);
    std::map<Problem, size_t> seen;
    // `page` and `slot`: the index page or the row a case is about, named by its detail.
    auto add = [&](Problem p, const std::string& detail, std::optional<uint32_t> page = {},
                   std::optional<uint32_t> slot = {}) {
        if (seen[p]++ >= kCasesPerIndex) return;
        Location where = index;
        where.page = page;
        where.slot = slot;
        out.emplace_back(p, make_finding(p, std::move(where), {label, detail}));
    };
    for (const IndexTreeIssue& issue : v.tree.issues)
        add(issue.kind == IndexTreeIssueKind::PageInvalid ? Problem::IdxPage : Problem::IdxTree, issue.detail,
            issue.page);
    if (!v.unmapped_pages.empty())
        add(Problem::IdxMap, "el árbol usa páginas que el mapa no incluye (" + page_list(v.unmapped_pages) + ")",
            v.unmapped_pages.front());
    if (!v.stray_pages.empty())
        add(Problem::IdxMap, "el mapa incluye páginas que el árbol no usa (" + page_list(v.stray_pages) + ")",
            v.stray_pages.front());
    for (const IndexDataIssue& issue : v.data.issues)
        if (issue.kind != IndexDataIssueKind::UniqueViolation)
            add(data_problem(issue.kind), issue.detail, issue.row.page, issue.row.row);
}

bool unique_index_in_doubt(const CheckedTable& t, const std::vector<IndexVerdict>& verdicts) {
    for (const IndexVerdict& v : verdicts)
        if (unique_real_index(*t.def, v.real_index) && !v.data.sound()) return true;
    return false;
}

// What verifying one table's indexes found, and the pages it read (when asked to note them).
struct TableVerdict {
    Findings findings;
    bool unique_in_doubt = false;  // a unique index disagrees with the rows: look for repeats
    std::vector<uint32_t> pages;
};

TableVerdict verify_table(Database& db, const CheckedTable& t, bool note_pages) {
    TableVerdict out;
    const PageFile::ReadLog log(db.file(), note_pages ? &out.pages : nullptr);
    Faults faults;  // row faults are the row pass's to report
    const std::vector<IndexVerdict> verdicts = verify_table_indexes(db, *t.def, t.name, t.rows_readable, faults);
    for (const IndexVerdict& v : verdicts) report(t, v, out.findings);
    out.unique_in_doubt = unique_index_in_doubt(t, verdicts);
    return out;
}

}  // namespace

struct IndexesPass::State {
    bool recording = false;
    std::vector<const CheckedTable*> tables;
    std::vector<const CheckMemo::TableIndexes*> earlier;  // per table: taken over, or verified now
    std::vector<TableVerdict> verdicts;
};

IndexesPass::IndexesPass(CheckContext& ctx, TableJobs& jobs) : ctx_(ctx), state_(std::make_unique<State>()) {
    State& s = *state_;
    s.recording = ctx.memo && ctx.memo->recording();
    for (const CheckedTable& t : ctx.tables) {
        if (!t.def || !t.def->complete || t.def->real_indexes.empty()) continue;
        s.tables.push_back(&t);
        s.earlier.push_back(ctx.memo && !s.recording ? ctx.memo->reusable_indexes(t, ctx.file.page_count()) : nullptr);
    }
    s.verdicts.resize(s.tables.size());
    for (size_t i = 0; i < s.tables.size(); ++i) {
        if (s.earlier[i]) continue;
        jobs.add(*s.tables[i], [this, i] {
            State& st = *state_;
            st.verdicts[i] = verify_table(ctx_.db, *st.tables[i], st.recording);
        });
    }
}

IndexesPass::~IndexesPass() = default;

void IndexesPass::report() {
    State& s = *state_;
    std::optional<std::vector<Relationship>> relationships;  // read at the first repeated key
    for (size_t i = 0; i < s.tables.size(); ++i) {
        const CheckedTable& t = *s.tables[i];
        if (s.earlier[i]) {
            for (const auto& [problem, finding] : s.earlier[i]->findings) ctx_.sink.add(problem, finding);
            continue;
        }
        TableVerdict& verdict = s.verdicts[i];
        for (const auto& [problem, finding] : verdict.findings) ctx_.sink.add(problem, finding);
        if (verdict.unique_in_doubt) {
            // Which repeated row stays depends on other tables' relationships: this verdict
            // rests on more than the table's own pages and is not noted for reuse.
            if (!relationships) relationships = read_relationships(ctx_.db);
            for (const DuplicateKeyRow& d : duplicate_key_rows(ctx_.db, *t.def, t.name, *relationships))
                ctx_.sink.add(Problem::IdxUniqueDuplicate, object::table_row(t.name, d.row.page, d.row.row),
                              {d.index_name, duplicate_key_text(d)});
            continue;
        }
        if (!s.recording) continue;
        ctx_.memo->record(CheckMemo::TableIndexes{memo_key(t, std::move(verdict.pages)), std::move(verdict.findings)},
                          ctx_.file.page_count());
    }
}

void check_indexes(CheckContext& ctx) {
    TableJobs jobs;
    IndexesPass pass(ctx, jobs);
    jobs.run();
    pass.report();
}

}  // namespace jet
