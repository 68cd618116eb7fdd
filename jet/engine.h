#pragma once
// Public API of the engine: check and repair a Jet / ACE database by path, and read one
// (the dump). Every text a user may read (descriptions, errors) is Spanish, UTF-8.
// Programs use the engine through this header alone; no header of jet/ includes it.
#include <filesystem>
#include <string_view>

#include "jet/base/engine_error.h"
#include "jet/base/progress.h"
#include "jet/base/report.h"
#include "jet/format/database.h"

namespace jet {

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

// What the repair does about a finding's problem (Spanish), as the problem table says.
std::string_view fix_text(const Finding& finding);
// Whether the repair has a fix for the finding's problem.
bool has_fix(const Finding& finding);

}  // namespace jet
