#pragma once
// Packed per-character text index codes, generated into index_codes_data.cpp by
// scripts/gen_index_codes.py. Only jet/index/index_codes.cpp reads these.
#include <cstddef>
#include <cstdint>

namespace jet::index_codes_data {

struct CharMapping {
    uint16_t from;  // code unit above U+00FF
    uint8_t to;     // base-table character it sorts as
};

extern const char general_legacy_runs[];
extern const std::size_t general_legacy_runs_size;
extern const char general_runs[];
extern const std::size_t general_runs_size;
extern const char general_97_runs[];
extern const std::size_t general_97_runs_size;
extern const CharMapping general_97_mappings[];
extern const std::size_t general_97_mappings_size;

}  // namespace jet::index_codes_data
