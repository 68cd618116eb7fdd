#pragma once
// Grows a Jet 3 database, which Jackcess does not write, with the engine's own writers: each
// grown table gets new data pages at the end of the file, filled as Access fills them with
// copies of its own rows whose unique integer keys are moved past every value the table
// holds (one span per round, so keys stay unique); its page map and the global map grow
// into reference maps as Access grows them, and its stored row count follows. The repair
// then rebuilds the indexes (multi-level trees at this size) and the check of the result
// must find nothing. What is grown and why a table is not is printed as the Java grower
// prints it.
#include <cstdint>
#include <filesystem>

namespace bench {

// Exit status: 0 when `target` was written and checks clean.
int grow_jet3(const std::filesystem::path& source, const std::filesystem::path& target, uint64_t size_mb,
              uint64_t seed);

}  // namespace bench
