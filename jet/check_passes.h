#pragma once
// The passes of the check and the state they share. Internal to the engine.
#include <cstdint>
#include <string>
#include <vector>

#include "jet/check.h"
#include "jet/header.h"
#include "jet/page_file.h"

namespace jet {

// Pass 1: page 0 fields and the file length.
void check_header(const HeaderResult& parsed, const PageFile& file, FindingSink& sink);

}  // namespace jet
