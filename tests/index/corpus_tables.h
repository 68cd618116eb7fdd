#pragma once
// Test-side list of every table of a corpus file, system tables included: every TDEF
// chain head (a TDEF page no other TDEF page continues).
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/database.h"
#include "jet/engine.h"
#include "jet/base/format.h"
#include "jet/file/page_file.h"

namespace test {

// Opens a corpus file into `db`; false for one the engine cannot examine (encrypted).
inline bool open_database(std::optional<jet::Database>& db, const std::filesystem::path& path) {
    try {
        db.emplace(path);
        return true;
    } catch (const jet::EngineError&) {
        return false;
    }
}

inline std::string format_name(uint8_t version_byte) {
    switch (version_byte) {
        case 0x00: return "Jet3";
        case 0x01: return "Jet4";
        case 0x02: return "ACE12";
        case 0x03: return "ACE14";
        case 0x04: return "ACE2013";
        case 0x05: return "ACE16";
        case 0x06: return "ACE17";
        default: return "unknown";
    }
}

inline std::vector<uint32_t> table_def_heads(const jet::PageFile& file, const jet::Layout& layout) {
    std::vector<uint32_t> tdefs;
    std::set<uint32_t> continued;
    for (uint32_t n = 1; n < file.page_count(); ++n) {
        auto page = file.page(n);
        if (page.size() != layout.page_size || page[0] != jet::page_type::table_def || page[1] != 1) continue;
        tdefs.push_back(n);
        if (uint32_t next = jet::u32_at(page, 4)) continued.insert(next);
    }
    std::vector<uint32_t> heads;
    for (uint32_t n : tdefs)
        if (!continued.count(n)) heads.push_back(n);
    return heads;
}

}  // namespace test
