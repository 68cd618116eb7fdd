#pragma once
// Page 0: the masked header region and the fields inside it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/base/fault.h"
#include "jet/base/format.h"

namespace jet {

struct Header {
    uint8_t version_byte = 0;
    const Layout* layout = nullptr;
    std::string engine_name;  // e.g. "Standard Jet DB"
    uint16_t code_page = 0;
    uint16_t sort_order = 0;    // LCID (Jet 3 @0x3A, Jet 4 @0x6E)
    uint8_t sort_version = 0;   // Jet 4 @0x71: 0 General Legacy, 1 General
    double creation_date = 0;   // Jet 4 only; days since 1899-12-30
    uint32_t database_key = 0;  // non-zero: pages are encrypted
    uint32_t damaged_database_key = 0;  // the stored key when it was found damaged (then database_key is 0)
    bool has_password = false;
    std::vector<uint8_t> page0;  // the header page with its masked region decoded

    uint32_t page_size() const { return layout ? layout->page_size : 0; }
    bool encrypted() const { return database_key != 0; }
};

struct HeaderResult {
    bool is_database = false;  // false: neither signature nor engine name matches
    std::optional<Header> header;
    Faults faults;
};

// The 128-byte keystream of RC4 with the fixed header key C7 DA 39 6B.
std::array<uint8_t, 128> header_keystream();

// XORs the masked region (from 0x18) of a header page in place; applying it twice
// restores the original.
void apply_header_mask(std::span<uint8_t> page0, const Layout& layout);

// The layout whose page 2 is plainly the catalog's table definition, or nullptr: the
// evidence that a file with a damaged page 0 is a Jet / ACE database all the same.
const Layout* catalog_layout(std::span<const uint8_t> file_prefix);

// Parses page 0 from the first bytes of the file (at least three Jet 4 pages when the
// file has them: an unknown version byte is resolved by probing for the TDEF at page 2).
HeaderResult parse_header(std::span<const uint8_t> file_prefix);

}  // namespace jet
