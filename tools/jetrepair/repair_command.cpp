// jetrepair repair FILE: repairs in place and prints every problem with what was done
// about it, then a Spanish summary. Exit 0 repaired or nothing to do, 4 repaired but some
// dropped data could not be saved, 8 not repaired (the file is as it was).
#include <iostream>

#include "commands.h"
#include "jet/engine.h"
#include "jet/native_file.h"
#include "jet/problems.h"
#include "jet/repair.h"

namespace {

std::string quoted(const std::filesystem::path& path) { return "«" + jet::display_path(path) + "»"; }

// A note with a fix was put right only when the file was rewritten for another reason.
void print_finding(const jet::Finding& f, bool rewritten) {
    std::cout << "- [" << f.code << "] " << f.description;
    if (!f.object.empty()) std::cout << " (" << f.object << ")";
    std::cout << "\n";
    if (jet::tolerated(f) && (!rewritten || jet::fix_for(f.problem) == nullptr)) {
        std::cout << "    se deja como está: no impide usar la base de datos\n";
    } else {
        std::cout << "    arreglo: " << jet::problem_info(f.problem).fix << "\n";
    }
}

}  // namespace

int run_repair(const std::filesystem::path& file) {
    jet::Report report;
    try {
        report = jet::repair_database(file);
    } catch (const jet::EngineError& error) {
        std::cerr << error.what() << "\n";
        return kExitUnreadable;
    }
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
