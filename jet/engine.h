#pragma once
// Public API of the engine: check and repair a Jet / ACE database by path.
// Every text a user may read (descriptions, errors) is Spanish, UTF-8.
#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
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

// Every problem the check knows, with its code, texts and fix: jet/problems.h.
enum class Problem;

// Where a finding lies: the fields that apply are set, the others left empty. A row is
// `slot` on `page`. Numbers are those stored in the file; names are as the catalog and
// the table definition spell them (a damaged one may be empty and still apply).
struct Location {
    std::optional<uint32_t> page{};             // a page of the file, or the page a row is on
    std::optional<uint32_t> slot{};             // a row's slot on `page`
    std::optional<uint32_t> definition_page{};  // first page of a table's definition
    std::optional<std::string> table{};
    std::optional<uint32_t> index{};  // a real index's number
    std::optional<std::string> index_name{};
    std::optional<uint32_t> column{};  // a column's number
    std::optional<std::string> column_name{};

    bool operator==(const Location&) const = default;
    auto operator<=>(const Location&) const = default;
};

struct Finding {
    std::string code;         // stable problem code from the problem table
    Severity severity;
    std::string object;       // what it concerns, e.g. "tabla Clientes, página 42"
    std::string description;  // Spanish
    Location location;        // the same place, typed: what the repair reads
    Problem problem{};        // the row of the problem table `code` names
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
