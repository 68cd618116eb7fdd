#pragma once
// A data page whose first sector never reached the disk: page type, owner, free space,
// row count and row offsets read back as zeros while the rows further down are intact.
// Rows are packed from the end of the page downward, so they can be framed again one
// after the other from the end, and the header rebuilt around them.
#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/fix_data_page.h"
#include "jet/base/format.h"

namespace jet {

inline constexpr std::size_t kDiskSector = 512;

// The first sector is all zeros and something lies past it.
bool data_page_header_lost(Bytes page);

struct TableDef;

// Whether a page of the table can have its rows framed again without its header: rows with
// variable columns end in a trailer that says where they start; rows of fixed columns alone
// do not, and a misframed run of them reads as wrong rows, so their page is not rebuilt.
bool rows_can_be_framed(const TableDef& table);

struct FramedRows {
    std::vector<uint16_t> slots;   // slot values (flags | start), the row nearest the page end first
    uint16_t lowest = 0;           // start of the lowest row framed (page size when none)
    uint16_t leftover = 0;         // start of the bytes below it that frame as no row (== lowest when none)
};

// Rows framed from the end of the page down to the first sector; `exact` says whether a
// span is a whole row as Access writes it, `moved` whether 4 bytes point at the row a
// grown row was moved to (such a slot is flagged overflow).
FramedRows frame_rows_from_end(Bytes page, const Layout& layout, const RowSoundness& exact,
                               const RowSoundness& moved);

// Sectors of the row area that read as zeros where a row starts: no row Access writes
// starts with zeros, so the sector never reached the disk, and every row crossing it lost
// bytes even when what is left still decodes. Byte offsets of the sectors' starts.
std::vector<size_t> zeroed_row_sectors(Bytes page, const Layout& layout);
// Whether the span [start, end) crosses one of those sectors.
bool crosses_sector(const std::vector<size_t>& sectors, size_t start, size_t end);

// Writes page type, owner, row count, offsets and free space for the framed rows.
void rebuild_data_page_header(std::vector<uint8_t>& page, const Layout& layout, uint32_t owner,
                              const FramedRows& rows);

}  // namespace jet
