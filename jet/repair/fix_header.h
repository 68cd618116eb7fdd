#pragma once
// Re-deriving page 0 from the rest of the file (internal to the header fixes and their
// tests). The catalog's definition (page 2) carries the database's default sort order
// (and, in Jet 3, code page) on its text columns; the column types of every table tell
// which engine version the file needs at least.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "jet/base/format.h"

namespace jet {

class FixContext;

struct TextDefaults {
    uint16_t sort_order = 0;    // LCID; 0 when no text column says
    uint8_t sort_version = 0;   // Jet 4 / ACE
    uint16_t code_page = 0;     // Jet 3 only; 0 when unknown
};

// The defaults the catalog's text columns were created with.
TextDefaults catalog_text_defaults(std::span<const uint8_t> catalog_page, const Layout& layout);

// Which ACE features the table definitions use: the lowest version byte that has them
// all (0x02 for none).
struct FeatureScan {
    bool ace_only = false;       // complex columns, 2010 sort order, BigInt, extended date
    uint8_t lowest_version = 0x02;
};
FeatureScan scan_ace_features(const FixContext& context);

// The version byte page 0 should hold, from the layout the pages show, the engine name
// (when it is intact), the features in use and, last, the file name's extension.
uint8_t derive_version_byte(const FixContext& context, const std::string& engine_name);

// The ANSI code page Windows pairs with a locale (1252 when not listed).
uint16_t code_page_for_locale(uint16_t lcid);

// The engine name page 0 carries for a version byte.
const char* engine_name_for(uint8_t version_byte);

// Jet 4 / ACE: the whole days of the creation date read back from the password area's
// mask (the tail of the area holds the bare mask unless the password is very long).
std::optional<int32_t> date_from_password_mask(std::span<const uint8_t> unmasked_page0);

}  // namespace jet
