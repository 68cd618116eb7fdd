// jetrepair repair FILE: repairs in place and prints every problem with what was done
// about it, then a Spanish summary. Exit 0 repaired or nothing to do, 4 repaired but some
// dropped data could not be saved, 8 not repaired (the file is as it was). With --json the
// same result is one JSON document instead.
#include <iostream>
#include <optional>
#include <string_view>

#include "commands.h"
#include "jet/engine.h"
#include "report_json.h"

namespace {

std::string quoted(const std::filesystem::path& path) { return "«" + jet::display_path(path) + "»"; }

// What was done about the finding, or nothing when it was left as it is. A note with a fix
// was put right only when the file was rewritten for another reason.
std::optional<std::string_view> applied_fix(const jet::Finding& f, bool rewritten) {
    if (jet::tolerated(f) && (!rewritten || !jet::has_fix(f))) return std::nullopt;
    return jet::fix_text(f);
}

void print_finding(const jet::Finding& f, bool rewritten) {
    std::cout << "- [" << f.code << "] " << f.description;
    if (!f.object.empty()) std::cout << " (" << f.object << ")";
    std::cout << "\n";
    if (const std::optional<std::string_view> fix = applied_fix(f, rewritten)) {
        std::cout << "    arreglo: " << *fix << "\n";
    } else if (jet::tolerated(f)) {
        std::cout << "    se deja como está: no impide usar la base de datos\n";
    }
}

int exit_status(const jet::Report& report) { return report.unsaved > 0 ? kExitSkipped : kExitOk; }

int print_repair_json(const std::filesystem::path& file, const jet::Report& report) {
    const bool rewritten = !report.backup.empty();
    nlohmann::ordered_json document = result_json("repair", file);
    document["repaired"] = rewritten;
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const jet::Finding& f : report.findings) {
        nlohmann::ordered_json item = finding_json(f);
        const std::optional<std::string_view> fix = applied_fix(f, rewritten);
        item["fix"] = fix ? nlohmann::ordered_json(std::string(*fix)) : nlohmann::ordered_json(nullptr);
        findings.push_back(std::move(item));
    }
    document["findings"] = std::move(findings);
    document["backup"] = path_json(report.backup);
    document["recovery"] = path_json(report.recovery);
    document["unsaved"] = report.unsaved;
    return print_json(std::move(document), exit_status(report));
}

}  // namespace

int run_repair(const std::filesystem::path& file, bool json, TerminalProgress& progress) {
    jet::Report report;
    try {
        report = jet::repair_database(file, &progress);
        progress.end();
    } catch (const jet::EngineError& error) {
        progress.end();
        std::cerr << error.what() << "\n";
        return json ? print_json_failure("repair", file, error.what(), kExitUnreadable) : kExitUnreadable;
    }
    if (json) return print_repair_json(file, report);
    for (const jet::Finding& f : report.findings) print_finding(f, !report.backup.empty());
    if (report.backup.empty()) {
        std::cout << "La base de datos " << quoted(file)
                  << (report.findings.empty() ? " no tiene problemas" : " no tiene problemas que haya que reparar")
                  << "; no se ha modificado.\n";
        return kExitOk;
    }
    std::cout << "La base de datos " << quoted(file) << " ha sido reparada (" << report.findings.size()
              << (report.findings.size() == 1 ? " problema" : " problemas") << ").\n"
              << "El original se conserva en " << quoted(report.backup) << ".\n";
    if (!report.recovery.empty())
        std::cout << "Los datos que hubo que apartar están en " << quoted(report.recovery) << ".\n";
    if (report.unsaved > 0) {
        std::cout << "No se han podido guardar " << report.unsaved
                  << (report.unsaved == 1 ? " elemento apartado" : " elementos apartados")
                  << " porque no se podían leer.\n";
        return kExitSkipped;
    }
    return kExitOk;
}
