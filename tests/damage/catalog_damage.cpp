#include "catalog_damage.h"

#include "injector.h"
#include "jet/base/bytes.h"
#include "jet/format/database.h"
#include "repair_outcome.h"

namespace damage {
namespace {

uint32_t le32(const std::vector<uint8_t>& b, std::size_t at) { return jet::u32_at(b, at); }
uint16_t le16(const std::vector<uint8_t>& b, std::size_t at) { return jet::u16_at(b, at); }

}  // namespace

std::optional<CatalogRowAt> find_catalog_row(const std::vector<uint8_t>& f, uint32_t tdef) {
    const Layout l = layout_of(f);
    const std::size_t count_at = l.jet3 ? 0x08 : 0x0C;
    const std::size_t column_count_size = l.jet3 ? 1 : 2;
    for (std::size_t page = 3; page < f.size() / l.page_size; ++page) {
        const std::size_t at = page * l.page_size;
        if (f[at] != 0x01 || le32(f, at + 4) != 2) continue;
        for (uint16_t i = 0; i < le16(f, at + count_at); ++i) {
            const std::size_t slot_at = at + count_at + 2 + 2 * i;
            const uint16_t slot = le16(f, slot_at);
            if (slot & 0xC000) continue;
            const std::size_t id_at = at + (slot & 0x1FFF) + column_count_size;
            if (id_at + 4 <= at + l.page_size && le32(f, id_at) == tdef) return CatalogRowAt{slot_at, id_at};
        }
    }
    return std::nullopt;
}

std::vector<uint32_t> data_pages_owned_by(const std::vector<uint8_t>& f, uint32_t tdef) {
    const Layout l = layout_of(f);
    std::vector<uint32_t> pages;
    for (uint32_t p = 3; p < f.size() / l.page_size; ++p)
        if (f[std::size_t(p) * l.page_size] == 0x01 && le32(f, std::size_t(p) * l.page_size + 4) == tdef)
            pages.push_back(p);
    return pages;
}

bool lose_catalog_row(std::vector<uint8_t>& f, uint32_t tdef) {
    const std::optional<CatalogRowAt> row = find_catalog_row(f, tdef);
    if (!row) return false;
    const Layout l = layout_of(f);
    f[row->slot_at + 1] |= 0xC0;
    const std::size_t rows_at = 2 * std::size_t(l.page_size) + (l.jet3 ? 0x0C : 0x10);
    const uint32_t rows = le32(f, rows_at) - 1;
    for (int k = 0; k < 4; ++k) f[rows_at + k] = uint8_t(rows >> (8 * k));
    return true;
}

std::size_t fill_catalog_pages(std::vector<uint8_t>& f) {
    const Layout l = layout_of(f);
    const std::size_t count_at = l.jet3 ? 0x08 : 0x0C;
    const std::size_t header = count_at + 2;
    std::size_t filled = 0;
    for (std::size_t page = 3; page < f.size() / l.page_size; ++page) {
        const std::size_t at = page * l.page_size;
        if (f[at] != 0x01 || le32(f, at + 4) != 2) continue;
        const uint16_t rows = le16(f, at + count_at);
        const std::size_t lowest = rows == 0 ? l.page_size : (le16(f, at + header + 2 * (rows - 1)) & 0x1FFF);
        const std::size_t slots_end = header + 2 * (std::size_t(rows) + 1);
        if (lowest <= slots_end) continue;
        const uint16_t slot = uint16_t(0xC000 | slots_end);
        f[at + header + 2 * rows] = uint8_t(slot);
        f[at + header + 2 * rows + 1] = uint8_t(slot >> 8);
        f[at + count_at] = uint8_t(rows + 1);
        f[at + count_at + 1] = uint8_t((rows + 1) >> 8);
        f[at + 2] = 0;  // free space
        f[at + 3] = 0;
        ++filled;
    }
    return filled;
}

std::optional<TableTarget> largest_user_table(const std::filesystem::path& intact) {
    const TableRows& rows = mdbtools_rows(intact);
    jet::Database db(intact);
    std::optional<TableTarget> best;
    std::size_t most = 0;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const auto it = rows.find(e.name);
        if (e.linked() || it == rows.end()) continue;
        if (!best || it->second.size() > most) {
            best = TableTarget{e.name, e.tdef_page()};
            most = it->second.size();
        }
    }
    return best;
}

}  // namespace damage
