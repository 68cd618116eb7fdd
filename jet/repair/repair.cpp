// repair_database(): lock, check, plan, fix a working copy, re-check it, commit.
#include "jet/repair/repair.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include "jet/base/byte_runs.h"
#include "jet/check/check.h"
#include "jet/check/check_memo.h"
#include "jet/engine.h"
#include "jet/format/file_limits.h"
#include "jet/file/interrupt_cleanup.h"
#include "jet/check/problems.h"

namespace jet {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHeaderProbeBytes = 3 * 4096;
constexpr std::size_t kListedProblems = 12;
// Enough for a fix to uncover what another must mend, and for that one to settle.
constexpr int kMaxFixRounds = 3;

std::string quoted(const fs::path& path) { return "«" + display_path(path) + "»"; }

// Findings grouped by problem, in the order of the problem table so fixes always run in
// the same order (page 0 first, row-level fixes before map fixes).
std::vector<std::pair<Problem, std::vector<Finding>>> group_by_problem(const std::vector<Finding>& findings) {
    std::map<Problem, std::vector<Finding>> groups;
    for (const Finding& f : findings) groups[f.problem].push_back(f);
    return {std::make_move_iterator(groups.begin()), std::make_move_iterator(groups.end())};
}

std::string finding_line(const Finding& f) {
    return "- " + f.description + (f.object.empty() ? "" : " (" + f.object + ")");
}

std::string listed(const std::vector<const Finding*>& findings) {
    std::string text;
    for (std::size_t i = 0; i < findings.size() && i < kListedProblems; ++i) text += "\n" + finding_line(*findings[i]);
    if (findings.size() > kListedProblems)
        text += "\n- y " + std::to_string(findings.size() - kListedProblems) + " problemas más.";
    return text;
}

// Findings that block a repair: no fix exists and they are not tolerated.
std::vector<const Finding*> unfixable(const std::vector<Finding>& findings) {
    std::vector<const Finding*> out;
    for (const Finding& f : findings)
        if (fix_for(f.problem) == nullptr && !tolerated(f)) out.push_back(&f);
    return out;
}

bool needs_fixing(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return !tolerated(f); });
}

Header header_of(const WorkingCopy& copy, const fs::path& database) {
    const std::uint64_t size = copy.file().size();
    std::vector<uint8_t> prefix(static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderProbeBytes)));
    copy.file().read_at(0, prefix);
    HeaderResult parsed = parse_header(prefix);
    if (!parsed.header) {
        throw EngineError("No se puede reparar " + quoted(database) + ": su cabecera no se reconoce.");
    }
    return std::move(*parsed.header);
}

Report recheck(const WorkingCopy& copy, CheckMemo& memo, const fs::path& database, Progress* progress) {
    try {
        return check_open_file(copy.file(), memo, progress);
    } catch (const EngineError& error) {
        throw EngineError("La reparación de " + quoted(database) +
                          " no se ha completado: la copia reparada no se puede examinar (" + error.what() +
                          "). La base de datos no se ha modificado.");
    }
}


// One problem at one place, however its description words it.
using FindingKey = std::pair<Problem, Location>;
FindingKey finding_key(const Finding& f) { return {f.problem, f.location}; }

std::vector<const Finding*> not_tolerated(const std::vector<Finding>& findings) {
    std::vector<const Finding*> out;
    for (const Finding& f : findings)
        if (!tolerated(f)) out.push_back(&f);
    return out;
}

[[noreturn]] void fail_with(const fs::path& database, const std::vector<const Finding*>& left) {
    throw EngineError("La reparación de " + quoted(database) +
                      " no se ha completado: la copia reparada aún tiene problemas. "
                      "La base de datos no se ha modificado." +
                      listed(left));
}

struct RoundsOutcome {
    std::vector<Finding> uncovered;  // problems the fixes themselves brought to light
    std::size_t unsaved = 0;
};

// Fixes can uncover problems the first check could not see (rows dropped leave index
// entries and counts behind, a rebuilt map lets a table's pages be read), so the copy is
// re-checked and fixed again, a bounded number of times, until it is clean, a round
// changes nothing, or what is left has no fix. Throws with what is left.
RoundsOutcome run_fix_rounds(WorkingCopy& copy, RecoveryFile& recovery, const std::vector<Finding>& first,
                             CheckMemo& memo, const fs::path& database, Progress* progress) {
    RoundsOutcome outcome;
    std::vector<bool> written;  // since the first check, over every round
    std::set<FindingKey> seen;
    for (const Finding& f : first) seen.insert(finding_key(f));
    std::vector<Finding> todo = first;
    for (int round = 1;; ++round) {
        // Each round reads page 0 afresh: an earlier round may have mended it.
        const Header header = header_of(copy, database);
        if (progress) progress->step("Reparando (vuelta " + std::to_string(round) + ")", 0);
        FixContext context(copy, header, recovery);
        for (const auto& [problem, findings] : group_by_problem(todo)) {
            if (FixFunction fix = fix_for(problem)) context.run(fix, fix_keeps_pages(problem), findings);
        }
        // Fixes that cut, drop or move pages leave the maps naming what is no longer there.
        if (context.pages_reallocated() && !context.maps_rebuilt()) rebuild_usage_maps(context);
        // The copy goes to the disk while it is re-checked; the commit waits for the rest.
        copy.file().start_writeback();
        outcome.unsaved += context.unsaved();
        const std::vector<bool>& now = context.written_pages();
        if (written.size() < now.size()) written.resize(now.size(), false);
        for (size_t p = 0; p < now.size(); ++p) written[p] = written[p] || now[p];
        memo.recheck_with(written);

        const Report after = recheck(copy, memo, database, progress);
        const std::vector<const Finding*> left = not_tolerated(after.findings);
        if (left.empty()) return outcome;
        if (round >= kMaxFixRounds || context.changes() == 0 || !unfixable(after.findings).empty())
            fail_with(database, left);
        for (const Finding* f : left)
            if (seen.insert(finding_key(*f)).second) outcome.uncovered.push_back(*f);
        todo = after.findings;
    }
}

std::string too_large_text(uint64_t needed, uint64_t limit) {
    return "No se puede completar la reparación: el archivo tendría que crecer hasta " + grouped_bytes(needed) +
           " bytes, y Access no abre bases de datos de este formato de más de " + limit_text(limit) +
           ". La base de datos no se ha modificado.";
}

}  // namespace

FixContext::FixContext(WorkingCopy& copy, const Header& header, RecoveryFile& recovery)
    : copy_(copy), header_(header), recovery_(recovery), pages_(std::make_shared<PageFile>(copy.file())) {
    pages_->set_page_size(header.page_size());
}

Database& FixContext::database() {
    if (database_ && header_written_) replaced_.push_back(std::move(database_));
    if (!database_) database_ = std::make_unique<Database>(pages_, copy_.path());
    header_written_ = false;
    return *database_;
}

void FixContext::forget_earlier_readings() {
    replaced_.clear();
    if (database_) database_->forget_earlier_readings();
}

std::vector<uint8_t> FixContext::read_page(uint32_t number) const {
    const PageRef page = pages_->fetch(number);
    return {page.bytes().begin(), page.bytes().end()};
}

std::vector<uint8_t> FixContext::read_bytes(uint64_t offset, std::size_t length) const {
    const uint64_t size = file_size();
    if (offset >= size) return {};
    std::vector<uint8_t> bytes(static_cast<std::size_t>(std::min<uint64_t>(length, size - offset)));
    copy_.file().read_at(offset, bytes);  // the pager writes through: the file is current
    return bytes;
}

void FixContext::refuse_while_staged() const {
    if (staged_ && staged_->pending() && !staged_->committing_)
        throw EngineError("Error interno de la reparación: escritura en la copia mientras otra tiene cambios pendientes.");
}

void FixContext::write_page(uint32_t number, std::span<const uint8_t> bytes) {
    refuse_while_staged();
    const PageRef before = pages_->fetch(number);
    if (before.size() != bytes.size()) {
        throw EngineError("Error interno de la reparación: escritura de la página " + std::to_string(number) +
                          " con un tamaño incorrecto.");
    }
    // Only the changed span is written: every other byte stays as it was, also on disk.
    const std::size_t first = common_length(bytes.data(), before.bytes().data(), bytes.size());
    if (first == bytes.size()) return;
    const std::size_t last =
        bytes.size() - common_tail_length(bytes.data() + first, before.bytes().data() + first, bytes.size() - first);
    copy_.write_at(uint64_t(number) * page_size() + first, bytes.subspan(first, last - first));
    pages_->written(number, bytes);
    if (number == 0) header_written_ = true;
    mark_written(number, number + 1);
    ++changes_;
}

void FixContext::write(uint32_t number, std::span<const uint8_t> bytes) {
    if (number == page_count())
        append_page(bytes);
    else
        write_page(number, bytes);
}

void FixContext::mark_written(uint32_t first, uint32_t end) {
    stamp(first, end);
    if (written_.size() < end) written_.resize(end, false);
    for (uint32_t p = first; p < end; ++p) written_[p] = true;
}

void FixContext::append_page(std::span<const uint8_t> bytes) {
    refuse_while_staged();
    if (bytes.size() != page_size() || file_size() % page_size() != 0) {
        throw EngineError("Error interno de la reparación: página añadida con un tamaño incorrecto.");
    }
    // Access would refuse the grown file: stop before the working copy takes the page.
    const uint64_t grown = file_size() + bytes.size();
    if (grown > max_file_size(page_size())) throw EngineError(too_large_text(grown, max_file_size(page_size())));
    const uint32_t number = page_count();
    copy_.write_at(file_size(), bytes);
    pages_->resized(file_size() + bytes.size());
    mark_written(number, number + 1);
    ++changes_;
}

void FixContext::truncate(uint64_t size) {
    refuse_while_staged();
    const uint32_t before = static_cast<uint32_t>((file_size() + page_size() - 1) / page_size());
    copy_.file().truncate(size);
    pages_->resized(size);
    mark_written(static_cast<uint32_t>(size / page_size()), before);
    ++changes_;
}

StagedPages::StagedPages(FixContext& context) : context_(context) {
    if (context_.staged_) throw EngineError("Error interno de la reparación: dos grupos de cambios pendientes a la vez.");
    context_.staged_ = this;
}

StagedPages::~StagedPages() { context_.staged_ = nullptr; }

std::vector<uint8_t>& StagedPages::page(uint32_t number) {
    auto it = pages_.find(number);
    if (it == pages_.end()) it = pages_.emplace(number, context_.read_page(number)).first;
    return it->second;
}

void StagedPages::commit() {
    committing_ = true;
    try {
        for (uint32_t number : changed_) context_.write_page(number, pages_.at(number));
    } catch (...) {
        committing_ = false;
        throw;
    }
    committing_ = false;
    changed_.clear();
}

Report repair_database(const fs::path& path, Progress* progress) {
    DatabaseLock lock(path);
    // Read through the held handle: on Windows nobody, not even this process, can open the
    // database again by path while the lock holds it.
    CheckMemo memo;
    Report found = check_open_file(lock.file(), memo, progress);
    if (!needs_fixing(found.findings)) return found;

    if (const auto blocking = unfixable(found.findings); !blocking.empty()) {
        throw EngineError("No se puede reparar " + quoted(path) +
                          " todavía: estos problemas aún no tienen arreglo en esta versión. "
                          "La base de datos no se ha modificado." +
                          listed(blocking));
    }

    if (progress) progress->step("Copiando la base de datos", 0);
    WorkingCopy copy(lock);
    RecoveryFile recovery(lock.path());  // beside the file itself, wherever a link led
    try {
        const RoundsOutcome outcome = run_fix_rounds(copy, recovery, found.findings, memo, path, progress);
        if (progress) progress->step("Guardando la base de datos reparada", 0);
        for (const Finding& f : outcome.uncovered) found.findings.push_back(f);
        {
            // A stop lands before the commit (nothing changed) or after the whole repair.
            const SignalsHeldBack hold;
            found.backup = copy.commit(lock);
            recovery.keep();
        }
        found.recovery = recovery.path();
        found.unsaved = outcome.unsaved;
        return found;
    } catch (...) {
        recovery.discard();
        throw;
    }
}

}  // namespace jet
