#pragma once
// Inputs built here byte by byte that every replay runs its target over before the seeds:
// structures pointing back at themselves, and any input a fuzzer broke the engine with,
// minimised.
#include <string_view>
#include <vector>

#include "seeds.h"

namespace fuzz {

std::vector<Seed> regression_inputs(std::string_view target);

}  // namespace fuzz
