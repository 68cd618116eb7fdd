#pragma once
// The largest file Access opens: 1 GiB for Jet 3, 2 GiB for Jet 4 and ACE (see
// docs/file-format.md, "Tamaño máximo"). A repair never grows a file past it.
#include <cstdint>

namespace jet {

inline constexpr uint64_t kMaxFileSizeJet3 = uint64_t{1} << 30;
inline constexpr uint64_t kMaxFileSizeJet4 = uint64_t{1} << 31;

// Jet 3 is the only format with 2 KiB pages.
constexpr uint64_t max_file_size(uint32_t page_size) {
    return page_size == 2048 ? kMaxFileSizeJet3 : kMaxFileSizeJet4;
}

}  // namespace jet
