// jetrepair check FILE: runs the engine's check, prints one line per problem and a
// summary, and exits like fsck: 0 nothing wrong (notes alone, such as pages nobody uses,
// are printed but are no problem), 4 problems found, 8 not examinable.
#include <iostream>
#include <string>

#include "commands.h"
#include "jet/engine.h"

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

}  // namespace

int run_check(const std::filesystem::path& file) {
    jet::Report report;
    try {
        report = jet::check_database(file);
    } catch (const jet::EngineError& e) {
        std::cerr << "jetrepair: " << e.what() << "\n";
        return kExitUnreadable;
    } catch (const std::exception& e) {
        std::cerr << "jetrepair: no se pudo examinar " << shown(file) << " (" << e.what() << ").\n";
        return kExitUnreadable;
    }
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
    return kExitSkipped;
}

