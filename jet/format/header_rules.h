#pragma once
// What a sound page 0 holds: the rules the check judges the header by and the repair
// re-derives the header against, kept in one place so both always agree.
#include <cstddef>
#include <cstdint>
#include <span>

#include "jet/format/header.h"
#include "jet/format/header_fields.h"

namespace jet {

// A real Windows locale (primary language and sublanguage), as Access writes them.
bool plausible_sort_order(uint16_t lcid);
// Jet 4 / ACE: 0 = General Legacy, 1 = General (2010).
bool plausible_sort_version(uint8_t version);
bool plausible_code_page(uint16_t code_page);
// Jet 4 / ACE: a finite date between year 100 and 9999.
bool plausible_creation_date(double days);
// A NUL-padded printable string once unmasked (Jet 4: with the creation-date mask).
bool plausible_password(const Header& header);

// Jet 3 commit slots in page 0: 256 two-byte slots; idle ones read 00 01.
inline constexpr std::size_t kCommitSlotsOffset = 0x600;
inline constexpr std::size_t kCommitSlotCount = 256;
// Whether slot i holds a value a cleanly closed file does not leave behind.
bool commit_slot_busy(std::span<const uint8_t> page0, std::size_t slot);

}  // namespace jet
