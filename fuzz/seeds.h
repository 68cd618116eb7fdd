#pragma once
// Seeds for each fuzz target, cut from the real files at run time (nothing of them is kept
// in the repository): small files whole, and pages of the kind a target parses, renumbered
// to where its input puts them.
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace fuzz {

using Seed = std::vector<uint8_t>;

inline constexpr std::string_view kTargets[] = {"header", "data_page", "table_def", "long_value",
                                                "index_page", "usage_map", "check", "repair"};

// Every seed of the target from the databases under `corpus` (none when it is absent).
std::vector<Seed> seeds_for(std::string_view target, const std::filesystem::path& corpus);

// At most `count` of them, spread over the list (so over the files and their formats).
std::vector<Seed> spread(std::vector<Seed> seeds, size_t count);

}  // namespace fuzz
