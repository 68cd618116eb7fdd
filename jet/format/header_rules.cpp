#include "jet/format/header_rules.h"

#include <cmath>

#include "jet/base/bytes.h"

namespace jet {
namespace {

constexpr double kFirstValidDate = -657434.0;  // 0100-01-01 in days since 1899-12-30
constexpr double kLastValidDate = 2958465.0;   // 9999-12-31

}  // namespace

bool plausible_sort_order(uint16_t lcid) {
    const unsigned primary = lcid & 0x3FF;
    const unsigned sublanguage = lcid >> 10;
    return primary >= 0x01 && primary <= 0x92 && sublanguage >= 0x01 && sublanguage <= 0x1F;
}

bool plausible_sort_version(uint8_t version) { return version <= 1; }

bool plausible_code_page(uint16_t cp) {
    switch (cp) {
    case 437: case 737: case 775: case 850: case 852: case 855: case 857: case 860:
    case 861: case 862: case 863: case 864: case 865: case 866: case 869: case 874:
    case 932: case 936: case 949: case 950:
    case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257:
    case 1258:
        return true;
    default:
        return false;
    }
}

bool plausible_creation_date(double days) {
    return std::isfinite(days) && days >= kFirstValidDate && days <= kLastValidDate;
}

// Jet 3 stores the password bytes as they are; Jet 4 stores UCS-2 XORed with
// trunc(creation date) repeated.
bool plausible_password(const Header& h) {
    Bytes area = slice(h.page0, header_field::kPassword, h.layout->password_length);
    if (area.size() != h.layout->password_length) return false;
    const bool jet3 = h.layout->jet3;
    uint32_t mask = 0;
    if (!jet3) {
        if (!std::isfinite(h.creation_date) || std::fabs(h.creation_date) > 2.0e9) return false;
        mask = static_cast<uint32_t>(static_cast<int32_t>(h.creation_date));
    }
    const size_t unit = jet3 ? 1 : 2;
    bool ended = false;
    for (size_t i = 0; i + unit <= area.size(); i += unit) {
        uint32_t c = area[i] ^ (jet3 ? 0u : static_cast<uint8_t>(mask >> (8 * (i % 4))));
        if (!jet3) c |= uint32_t(area[i + 1] ^ static_cast<uint8_t>(mask >> (8 * ((i + 1) % 4)))) << 8;
        if (c == 0) {
            ended = true;
        } else if (ended || c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

bool commit_slot_busy(std::span<const uint8_t> page0, std::size_t slot) {
    const std::size_t at = kCommitSlotsOffset + 2 * slot;
    if (slot >= kCommitSlotCount || at + 2 > page0.size()) return false;
    if (page0[at + 1] != 0x01) return true;
    return slot >= 2 && page0[at] != 0x00;
}

}  // namespace jet
