// Pass 1: page 0. The reader has already decided the layout; this pass judges the
// fields Access itself validates on open (signature, engine name, version, sort order)
// and the ones a damaged header betrays (code page, creation date, password area).
#include <string>

#include "jet/base/bytes.h"
#include "jet/check/check_passes.h"
#include "jet/format/header_rules.h"

namespace jet {

void check_header(const HeaderResult& parsed, const PageFile& file, FindingSink& sink) {
    const Location where = object::header();
    for (const Fault& f : parsed.faults) {
        switch (f.kind) {
        case FaultKind::HeaderSignature:
            sink.add(Problem::HdrSignature, where, {f.detail});
            break;
        case FaultKind::HeaderEngineName:
            sink.add(Problem::HdrEngineName, where,
                     {parsed.header ? "«" + parsed.header->engine_name + "»" : f.detail});
            break;
        case FaultKind::HeaderDatabaseKey:
            sink.add(Problem::HdrDatabaseKey, where,
                     {parsed.header ? std::to_string(parsed.header->damaged_database_key) : f.detail});
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
    if (!plausible_sort_order(h.sort_order) || (!h.layout->jet3 && !plausible_sort_version(h.sort_version)))
        sink.add(Problem::HdrSortOrder, where,
                 {h.layout->jet3 ? hex_u16(h.sort_order)
                                 : hex_u16(h.sort_order) + " versión " + std::to_string(h.sort_version)});
    if (!plausible_code_page(h.code_page)) sink.add(Problem::HdrCodePage, where, {std::to_string(h.code_page)});
    if (!h.layout->jet3 && !plausible_creation_date(h.creation_date))
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
