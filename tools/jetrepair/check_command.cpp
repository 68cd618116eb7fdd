// Placeholder until the checker lands: check and repair are registered but not yet wired.
#include <iostream>

#include "commands.h"

int run_check(const std::filesystem::path&) {
    std::cerr << "jetrepair check: no disponible todavía\n";
    return kExitUnreadable;
}

int run_repair(const std::filesystem::path&) {
    std::cerr << "jetrepair repair: no disponible todavía\n";
    return kExitUnreadable;
}
