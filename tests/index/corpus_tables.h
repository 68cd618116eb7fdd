#pragma once
// Test-side access to the tables of a corpus file without the catalog: every TDEF chain
// head, and the live rows of a table found by scanning its data pages.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/data_page.h"
#include "jet/header.h"
#include "jet/page_file.h"
#include "jet/table_def.h"

namespace test {

struct OpenedFile {
    std::unique_ptr<jet::PageFile> file;
    jet::Header header;
};

inline std::optional<OpenedFile> open_corpus_file(const std::filesystem::path& path) {
    OpenedFile out;
    out.file = std::make_unique<jet::PageFile>(path);
    auto parsed = jet::parse_header(out.file->read_prefix(3 * 4096));
    if (!parsed.header || parsed.header->encrypted()) return std::nullopt;
    out.header = *parsed.header;
    out.file->set_page_size(out.header.page_size());
    return out;
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

// TDEF pages that no other TDEF page continues.
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

struct LiveRow {
    jet::RowPointer pointer;  // header slot
    jet::Bytes bytes;         // the row's data (after following overflow pointers)
};

// Live rows on the data pages owned by `tdef`, following overflow pointers.
inline std::vector<LiveRow> live_rows(const jet::PageFile& file, const jet::Layout& layout, uint32_t tdef) {
    std::vector<LiveRow> out;
    for (uint32_t n = 1; n < file.page_count(); ++n) {
        jet::DataPage page(file.page(n), layout);
        if (!page.is_data_page() || page.owner() != tdef) continue;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            jet::RowSlot slot = page.slot(i);
            if (slot.deleted() || !slot.bounds_ok) continue;
            jet::Bytes bytes = page.row(i);
            bool ok = true;
            for (int hops = 0; slot.overflow(); ++hops) {
                if (hops > 8 || bytes.size() < 4) {
                    ok = false;
                    break;
                }
                auto target = jet::RowPointer::from_u32(jet::u32_at(bytes, 0));
                jet::DataPage tp(file.page(target.page), layout);
                if (!tp.is_data_page() || target.row >= tp.row_count()) {
                    ok = false;
                    break;
                }
                slot = tp.slot(target.row);
                bytes = tp.row(target.row);
            }
            if (ok) out.push_back({{n, static_cast<uint8_t>(i)}, bytes});
        }
    }
    return out;
}

}  // namespace test
