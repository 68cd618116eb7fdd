#pragma once
// What a check finds: each finding names its problem, where it lies and what it says, in
// Spanish. Plain data, shared by the check, the repair and the programs.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace jet {

enum class Severity { Info, Warning, Error };

// Every problem the check knows, with its code, texts and fix: jet/check/problems.h.
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

// Whether a finding may stay in a repaired file: a note (severity Info), where nothing is
// wrong for Access (pages nobody uses, stale counts of Access's own tables). Notes never
// make the repair rewrite a file; one with a fix is put right when the file is rewritten
// for another reason.
inline bool tolerated(const Finding& finding) { return finding.severity == Severity::Info; }

}  // namespace jet
