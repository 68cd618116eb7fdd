#pragma once
// Inputs the fuzzers once broke the engine with, minimised and built here byte by byte:
// every replay runs its target over them before the seeds.
#include <string_view>
#include <vector>

#include "seeds.h"

namespace fuzz {

std::vector<Seed> regression_inputs(std::string_view target);

}  // namespace fuzz
