#pragma once
// The common verdict on a repaired file, for the damage tests of single structures: the
// backup is the damaged file byte for byte, our check finds nothing left, a second repair
// changes nothing, and mdbtools reads every table of the intact file from the repaired one
// with no row that was not there (and, unless rows may be lost, every row).
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "jet/engine.h"

namespace damage {

using TableRows = std::map<std::string, std::vector<std::string>>;

// Every user table of a file as mdbtools exports it (read once per path).
const TableRows& mdbtools_rows(const std::filesystem::path& intact);

struct RowTally {
    std::size_t kept = 0;
    std::size_t total = 0;
};

// Rows per table that the repair must take out (no more, no fewer), e.g. rows repeating
// a unique key.
using TakenOut = std::map<std::string, std::size_t>;

// Adds gtest failures for every rule broken. `renamed` maps intact table names to the
// names the repair gave them (tables found again under a new name). With `may_lose_tables`
// a table the repaired file no longer lists counts as lost with all its rows (its
// definition was destroyed); every table it does list must still export.
RowTally expect_sound_repair(const std::filesystem::path& database, const std::filesystem::path& intact,
                             const std::vector<std::uint8_t>& damaged, const jet::Report& report,
                             bool may_lose_rows, const std::map<std::string, std::string>& renamed = {},
                             bool may_lose_tables = false, const TakenOut& taken_out = {});

}  // namespace damage
