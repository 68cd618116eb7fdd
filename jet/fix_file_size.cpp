// HDR_FILE_SIZE: the file ends inside a page. Access cannot use a partial page, so the
// repair cuts the file back to its last whole page; the cut bytes go to the recovery file.
#include "jet/repair.h"

namespace jet {

void fix_file_size(FixContext& context, std::span<const Finding>) {
    const uint64_t size = context.file_size();
    const uint64_t whole = size - size % context.page_size();
    if (whole == size) return;
    RecoveredItem cut;
    cut.page = static_cast<uint32_t>(whole / context.page_size());
    cut.reason = "página final incompleta (" + std::to_string(size - whole) + " de " +
                 std::to_string(context.page_size()) + " bytes) quitada del final del archivo";
    cut.raw = context.read_bytes(whole, static_cast<std::size_t>(size - whole));
    context.save_dropped(cut);
    context.truncate(whole);
}

}  // namespace jet
