#pragma once
// Public API of the engine: check and repair a Jet / ACE database by path.
// Every text a user may read (descriptions, errors) is Spanish, UTF-8.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/progress.h"

namespace jet {

// The file could not be examined at all (missing, unreadable, not a database,
// encrypted, in use). what() is the Spanish description.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Severity { Info, Warning, Error };

struct Finding {
    std::string code;         // stable problem code from the problem table
    Severity severity;
    std::string object;       // what it concerns, e.g. "tabla Clientes, página 42"
    std::string description;  // Spanish
};

struct Report {
    std::vector<Finding> findings;
    // Set by repair_database when it rewrote the file: where the original bytes were kept,
    // where data the fixes had to drop was saved (empty when none), and how many dropped
    // items could not be decoded well enough to be saved there.
    std::filesystem::path backup;
    std::filesystem::path recovery;
    std::size_t unsaved = 0;
    bool clean() const { return findings.empty(); }
};

// Reads the whole file and reports every structural problem; never writes.
// Throws EngineError when the file cannot be examined. `progress`, when given, hears how
// far the check has got.
Report check_database(const std::filesystem::path& path, Progress* progress = nullptr);

// Repairs the file in place: check, plan a fix for every problem, apply the fixes to a
// working copy, re-check it, commit atomically keeping the original as a backup. A clean
// file is not rewritten. Throws EngineError (Spanish description) when it cannot repair.
Report repair_database(const std::filesystem::path& path, Progress* progress = nullptr);

// Programs that repair call this once at start: a repair then stopped by a signal (Ctrl-C,
// a closed terminal, a plain kill) first removes the files it was writing beside the
// database, whose bytes were never touched, and writes `message` (a static text, or null)
// to standard error; the process then ends as the signal asks.
void remove_unfinished_repair_on_signal(const char* message);

}  // namespace jet
