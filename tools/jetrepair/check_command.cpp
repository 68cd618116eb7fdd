// jetrepair check FILE: runs the engine's check, prints one line per problem and a
// summary, and exits like fsck: 0 nothing wrong (notes alone, such as pages nobody uses,
// are printed but are no problem), 4 problems found, 8 not examinable. With --json the
// same result is one JSON document instead.
#include <algorithm>
#include <iostream>
#include <string>

#include "commands.h"
#include "jet/engine.h"
#include "report_json.h"

namespace {

const char* severity_text(jet::Severity s) {
    switch (s) {
    case jet::Severity::Error: return "error";
    case jet::Severity::Warning: return "aviso";
    case jet::Severity::Info: return "info";
    }
    return "?";
}

std::string count_text(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string shown(const std::filesystem::path& p) {
    auto u8 = p.u8string();
    return "«" + std::string(u8.begin(), u8.end()) + "»";
}

bool is_problem(const jet::Finding& f) { return f.severity != jet::Severity::Info; }

int exit_status(const jet::Report& report) {
    return std::any_of(report.findings.begin(), report.findings.end(), is_problem) ? kExitSkipped : kExitOk;
}

int print_check_json(const std::filesystem::path& file, const jet::Report& report) {
    nlohmann::ordered_json document = result_json("check", file);
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const auto& f : report.findings) findings.push_back(finding_json(f));
    document["findings"] = std::move(findings);
    return print_json(std::move(document), exit_status(report));
}

int refuse(const std::filesystem::path& file, const std::string& reason, bool json) {
    std::cerr << "jetrepair: " << reason << "\n";
    return json ? print_json_failure("check", file, reason, kExitUnreadable) : kExitUnreadable;
}

}  // namespace

int run_check(const std::filesystem::path& file, bool json, TerminalProgress& progress) {
    jet::Report report;
    try {
        report = jet::check_database(file, &progress);
        progress.end();
    } catch (const jet::EngineError& e) {
        progress.end();
        return refuse(file, e.what(), json);
    } catch (const std::exception& e) {
        progress.end();
        return refuse(file, "no se pudo examinar " + shown(file) + " (" + e.what() + ").", json);
    }
    if (json) return print_check_json(file, report);
    size_t errors = 0, warnings = 0, notes = 0;
    for (const auto& f : report.findings) {
        std::cout << f.code << "\t" << severity_text(f.severity) << "\t" << f.object << "\t" << f.description << "\n";
        (f.severity == jet::Severity::Error ? errors : f.severity == jet::Severity::Warning ? warnings : notes)++;
    }
    if (errors == 0 && warnings == 0) {
        std::cout << "No se ha encontrado ningún problema en " << shown(file);
        if (notes > 0) std::cout << " (" << count_text(notes, "nota", "notas") << ")";
        std::cout << ".\n";
        return kExitOk;
    }
    std::cout << (report.findings.size() == 1 ? "Se ha encontrado " : "Se han encontrado ") << count_text(report.findings.size(), "problema", "problemas") << " en "
              << shown(file) << ": " << count_text(errors, "error", "errores") << ", "
              << count_text(warnings, "aviso", "avisos") << " y " << count_text(notes, "nota", "notas") << ".\n";
    return exit_status(report);
}

