#pragma once
// Rebuilding the row-offset table of a damaged data page in place.
//
// Rows keep their slot numbers (indexes and overflow pointers hold RowIds) and their bytes
// stay where they are: a slot whose offset cannot be trusted is recovered from the gap the
// other rows leave when only one row can fill it, and otherwise becomes a deleted slot of
// zero length; a row that does not decode becomes a deleted slot over its own bytes, the
// way Jackcess deletes rows. The free-space figure is then derived from the slots.
#include <cstdint>
#include <functional>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/format.h"

namespace jet {

enum class SlotFate : uint8_t {
    Kept,       // unchanged span and flags
    Recovered,  // its offset was lost; the gap it leaves decodes as a row, so it lives again
    Dropped,    // the row at a known span does not decode: deleted, bytes left in place
    Lost,       // its span cannot be known: deleted, zero length
};

struct SlotPlan {
    uint16_t raw = 0;  // new slot value (flags | start)
    uint16_t start = 0;
    uint16_t end = 0;
    SlotFate fate = SlotFate::Kept;
    bool was_live = false;  // the old slot claimed a live row (no deleted flag)
};

struct DataPagePlan {
    uint16_t row_count = 0;
    std::vector<SlotPlan> slots;
    bool changes_slots() const;
};

// Whether the bytes of a live row (flags 0) decode well enough to keep. Rows with flags
// (deleted, overflow header, overflow target) are never asked about.
using RowSoundness = std::function<bool(Bytes row)>;

// The slot table the page should have. Never fails: in the worst case every slot is Lost.
// `exact` is the stricter test a span must pass before a lost slot is given it (a span cut
// at the wrong place can still frame as a row). `framed_from_end`: the table's rows carry a
// trailer that fixes their length (variable columns), so lost rows are sought from their end.
DataPagePlan plan_data_page(Bytes page, const Layout& layout, const RowSoundness& sound, const RowSoundness& exact,
                            bool framed_from_end);

// Writes row count, slots and the free-space figure the plan implies into the page.
void apply_data_page_plan(std::vector<uint8_t>& page, const Layout& layout, const DataPagePlan& plan);

// Free space as Access keeps it: page size - header - slot table - all row spans (deleted too).
uint16_t derived_free_space(Bytes page, const Layout& layout);

// Sets the free-space field from the slots; true when it changed.
bool set_free_space(std::vector<uint8_t>& page, const Layout& layout);

// A valid data page of the given table with no rows (for a page whose contents are gone).
std::vector<uint8_t> empty_data_page(const Layout& layout, uint32_t tdef_page);

}  // namespace jet
