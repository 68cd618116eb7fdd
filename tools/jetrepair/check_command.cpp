// Placeholder until the checker lands: check is registered but not yet wired.
#include <iostream>

#include "commands.h"

int run_check(const std::filesystem::path&) {
    std::cerr << "jetrepair check: no disponible todavía\n";
    return kExitUnreadable;
}
