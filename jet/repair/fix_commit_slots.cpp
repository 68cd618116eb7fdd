// Jet 3 commit slots left busy in page 0 (a writer died before finishing its commit):
// every busy slot goes back to the idle pattern 00 01 that cleanly closed files show.
// Slots 0 and 1 keep their first byte when their second byte already reads 01, because
// clean files leave values such as 01 01 or 1D 01 there.
#include "jet/repair/repair.h"

namespace jet {

void fix_commit_slots(FixContext& context, std::span<const Finding>) {
    if (!context.header().layout->jet3) return;
    std::vector<uint8_t> page0 = context.read_page(0);
    for (std::size_t slot = 0; slot < kCommitSlotCount; ++slot) {
        if (!commit_slot_busy(page0, slot)) continue;
        const std::size_t at = kCommitSlotsOffset + 2 * slot;
        if (slot >= 2 || page0[at + 1] != 0x01) page0[at] = 0x00;
        page0[at + 1] = 0x01;
    }
    context.write_page(0, page0);
}

}  // namespace jet
