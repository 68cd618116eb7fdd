#pragma once
// The largest file Access opens: 1 GiB for Jet 3, 2 GiB for Jet 4 and ACE (see
// docs/file-format.md, "Tamaño máximo"). A repair never grows a file past it.
#include <cstdint>
#include <string>

namespace jet {

inline constexpr uint64_t kMaxFileSizeJet3 = uint64_t{1} << 30;
inline constexpr uint64_t kMaxFileSizeJet4 = uint64_t{1} << 31;

// Jet 3 is the only format with 2 KiB pages.
constexpr uint64_t max_file_size(uint32_t page_size) {
    return page_size == 2048 ? kMaxFileSizeJet3 : kMaxFileSizeJet4;
}

// A size in bytes as a reader of Spanish expects it: digits in groups of three (2.147.483.648).
inline std::string grouped_bytes(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
        out += digits[i];
    }
    return out;
}

// The limit as the messages name it: "2.147.483.648 bytes (2 GB)".
inline std::string limit_text(uint64_t limit) {
    return grouped_bytes(limit) + " bytes (" + std::to_string(limit >> 30) + " GB)";
}

}  // namespace jet
