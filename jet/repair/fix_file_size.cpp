// HDR_FILE_SIZE: the file ends inside a page. Access cannot use a partial page. A table's
// data page cut after its slot table is a torn page: it is completed with zeros and keeps every row
// lying wholly before the cut (rows reaching past it are deleted); the row walk then judges
// what is left. Any other partial page is cut away. Either way the cut bytes are saved.
#include "jet/format/data_page.h"
#include "jet/format/file_limits.h"
#include "jet/repair/repair.h"

namespace jet {

namespace {

// The partial data page completed with zeros, its rows reaching past `kept` bytes deleted;
// empty when the cut took part of the header or the slot table.
std::vector<uint8_t> completed_data_page(std::vector<uint8_t> part, const Layout& layout) {
    const size_t kept = part.size();
    if (kept < layout.data_header_size || part[0] != page_type::data) return {};
    part.resize(layout.page_size, 0);
    const DataPage view(part, layout);
    // Long-value rows are read through pointers that no slot flag stops: a cut one goes whole.
    if (view.is_lval()) return {};
    const size_t slots = view.row_count();
    if (kept < layout.data_header_size + 2 * slots) return {};
    uint16_t upper = static_cast<uint16_t>(layout.page_size);
    for (size_t i = 0; i < slots; ++i) {
        const size_t at = layout.data_header_size + 2 * i;
        const uint16_t raw = u16_at(part, at);
        const uint16_t start = raw & kRowOffsetMask;
        const bool deleted = (raw & kRowDeleted) != 0 && (raw & kRowOverflow) != 0;
        if (!deleted && (start >= kept || upper > kept)) {
            const uint16_t gone = static_cast<uint16_t>(kRowDeleted | kRowOverflow | start);
            part[at] = static_cast<uint8_t>(gone);
            part[at + 1] = static_cast<uint8_t>(gone >> 8);
        }
        if (start <= upper) upper = start;
    }
    return part;
}

}  // namespace

// HDR_FILE_TOO_LARGE: the file runs past the size Access opens, and nothing of the database
// lies past it (no structure reaches those pages; Access never writes there). The file is
// cut back to the limit; the backup keeps the bytes cut.
void fix_file_limit(FixContext& context, std::span<const Finding>) {
    const uint64_t limit = max_file_size(context.page_size());
    if (context.file_size() > limit) context.truncate(limit);
}

void fix_file_size(FixContext& context, std::span<const Finding>) {
    const uint64_t size = context.file_size();
    const uint64_t whole = size - size % context.page_size();
    if (whole == size) return;
    RecoveredItem cut;
    cut.page = static_cast<uint32_t>(whole / context.page_size());
    cut.raw = context.read_bytes(whole, static_cast<std::size_t>(size - whole));
    const Layout* layout = context.header().layout;
    const std::vector<uint8_t> completed = layout ? completed_data_page(cut.raw, *layout) : std::vector<uint8_t>{};
    cut.reason = "página final incompleta (" + std::to_string(size - whole) + " de " +
                 std::to_string(context.page_size()) + " bytes) " +
                 (completed.empty() ? "quitada del final del archivo"
                                    : "completada con ceros; se conservan las filas que caben enteras");
    context.save_dropped(cut);
    context.truncate(whole);
    if (!completed.empty()) context.append_page(completed);
}

}  // namespace jet
