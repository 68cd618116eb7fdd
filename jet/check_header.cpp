// Pass 1: page 0. The reader has already decided the layout; this pass judges the
// fields Access itself validates on open (signature, engine name, version, sort order)
// and the ones a damaged header betrays (code page, creation date, password area).
#include <cmath>
#include <string>

#include "jet/bytes.h"
#include "jet/check_passes.h"
#include "jet/repair.h"

namespace jet {
namespace {

constexpr size_t kPasswordArea = 0x42;
constexpr double kLastValidDate = 2958465.0;  // 9999-12-31 in days since 1899-12-30

// Access refuses a file whose sort order it does not know. The LCIDs it writes are real
// Windows locales: a primary language and a specific sublanguage.
bool plausible_sort_order(uint16_t lcid) {
    const unsigned primary = lcid & 0x3FF;
    const unsigned sublanguage = lcid >> 10;
    return primary >= 0x01 && primary <= 0x92 && sublanguage >= 0x01 && sublanguage <= 0x1F;
}

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

// A password area is a NUL-padded string: printable characters, then only zeros.
// Jet 3 stores bytes; Jet 4 stores UCS-2 XORed with trunc(creation date) repeated.
bool plausible_password(const Header& h) {
    Bytes area = slice(h.page0, kPasswordArea, h.layout->password_length);
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

}  // namespace

void check_header(const HeaderResult& parsed, const PageFile& file, FindingSink& sink) {
    const std::string where = object::header();
    for (const Fault& f : parsed.faults) {
        switch (f.kind) {
        case FaultKind::HeaderSignature:
            sink.add(Problem::HdrSignature, where, {f.detail});
            break;
        case FaultKind::HeaderEngineName:
            sink.add(Problem::HdrEngineName, where,
                     {parsed.header ? "«" + parsed.header->engine_name + "»" : f.detail});
            break;
        case FaultKind::HeaderVersionUnknown:
            sink.add(Problem::HdrVersion, where,
                     {parsed.header ? hex_byte(parsed.header->version_byte) : f.detail});
            break;
        default:
            break;
        }
    }
    if (!parsed.header) return;
    const Header& h = *parsed.header;

    if (file.trailing_bytes() != 0)
        sink.add(Problem::HdrFileSize, where,
                 {std::to_string(file.file_size()), std::to_string(file.page_size())});
    if (!plausible_sort_order(h.sort_order) || (!h.layout->jet3 && h.sort_version > 1))
        sink.add(Problem::HdrSortOrder, where,
                 {h.layout->jet3 ? hex_u16(h.sort_order)
                                 : hex_u16(h.sort_order) + " versión " + std::to_string(h.sort_version)});
    if (!plausible_code_page(h.code_page)) sink.add(Problem::HdrCodePage, where, {std::to_string(h.code_page)});
    if (!h.layout->jet3 && (!std::isfinite(h.creation_date) || h.creation_date < -657434.0 ||
                            h.creation_date > kLastValidDate))
        sink.add(Problem::HdrCreationDate, where, {});
    if (!plausible_password(h)) sink.add(Problem::HdrPasswordArea, where, {});

    // Jet 3 keeps per-user commit slots in page 0; a busy one means a writer died
    // mid-commit. The meaning of the same-shaped Jet 4 area is unknown: left alone.
    if (h.layout->jet3) {
        std::string busy;
        size_t count = 0;
        for (size_t slot = 0; slot < kCommitSlotCount; ++slot) {
            if (!commit_slot_busy(h.page0, slot)) continue;
            if (++count <= 8) busy += (busy.empty() ? "" : ", ") + std::to_string(slot);
        }
        if (count > 8) busy += " y " + std::to_string(count - 8) + " más";
        if (count > 0) sink.add(Problem::HdrCommitSlots, where, {busy});
    }
}

}  // namespace jet
