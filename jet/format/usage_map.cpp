#include "jet/format/usage_map.h"

#include <algorithm>
#include <string>

#include "jet/format/data_page.h"
#include "jet/file/page_file.h"

namespace jet {
namespace {

constexpr uint8_t kInline = 0x00;
constexpr uint8_t kReference = 0x01;
constexpr size_t kMapPageBitmap = 4;

void add_bits(UsageMap& map, Bytes bitmap, uint64_t first_page, uint32_t page_count) {
    for (size_t k = 0; k < bitmap.size(); ++k) {
        if (bitmap[k] == 0) continue;
        for (int bit = 0; bit < 8; ++bit) {
            if (!(bitmap[k] & (1u << bit))) continue;
            uint64_t page = first_page + 8 * uint64_t(k) + uint64_t(bit);
            if (page < page_count)
                map.pages.push_back(static_cast<uint32_t>(page));
            else
                ++map.pages_past_end;
        }
    }
}

}  // namespace

uint64_t pages_per_map_page(const Layout& layout) { return uint64_t(layout.page_size - kMapPageBitmap) * 8; }

bool UsageMap::records(uint32_t page) const {
    if (type == kInline) return page >= start_page && page < window_end;
    for (const PageSpan& s : unrecorded)
        if (page >= s.first && page < s.end) return false;
    return true;
}

UsageMap parse_usage_map(Bytes row, const PageFile& file, const Layout& layout) {
    UsageMap map;
    if (row.empty()) {
        map.faults.push_back({FaultKind::UsageMapRow, 0, -1, {}, "el mapa de uso está vacío"});
        return map;
    }
    map.type = row[0];
    if (map.type == kInline) {
        if (row.size() < 5) {
            map.faults.push_back({FaultKind::UsageMapRow, 0, -1, {}, "el mapa de uso es demasiado corto"});
            return map;
        }
        map.readable = true;
        map.start_page = u32_at(row, 1);
        map.window_end = uint64_t(map.start_page) + 8 * uint64_t(row.size() - 5);
        add_bits(map, row.subspan(5), map.start_page, file.page_count());
        return map;
    }
    if (map.type == kReference) {
        map.readable = true;
        const uint64_t per_page = pages_per_map_page(layout);
        const uint64_t page_count = file.page_count();
        const size_t slots = (row.size() - 1) / 4;
        // A slot past the end of the file is filled when the file grows that far: whatever
        // it holds names no page yet (testRefGlobalV2000 keeps old inline bits there).
        for (size_t j = 0; j < slots && j * per_page < page_count; ++j) {
            uint32_t map_page = u32_at(row, 1 + 4 * j);
            const PageSpan slot_pages{static_cast<uint32_t>(j * per_page),
                                      static_cast<uint32_t>(std::min(page_count, (j + 1) * per_page))};
            if (map_page == 0) {
                map.unrecorded.push_back(slot_pages);
                continue;
            }
            const PageRef page = file.fetch(map_page);
            if (page.empty() || page[0] != page_type::usage_map) {
                map.faults.push_back({FaultKind::UsageMapPageBad, map_page, -1, {},
                                      "el mapa de uso remite a una página que no es de mapa"});
                map.unrecorded.push_back(slot_pages);
                continue;
            }
            add_bits(map, page.bytes().subspan(kMapPageBitmap), j * per_page, file.page_count());
        }
        return map;
    }
    map.faults.push_back({FaultKind::UsageMapType, 0, -1, {},
                          "el mapa de uso tiene un tipo desconocido (" + std::to_string(map.type) + ")"});
    return map;
}

UsageMap read_usage_map(const PageFile& file, const Layout& layout, uint32_t row_pointer) {
    const RowPointer at = RowPointer::from_u32(row_pointer);
    auto fail = [&](FaultKind kind, std::string detail) {
        UsageMap map;
        map.faults.push_back({kind, at.page, at.row, {}, std::move(detail)});
        return map;
    };
    const PageRef bytes = file.fetch(at.page);
    if (at.page == 0 || bytes.empty()) return fail(FaultKind::PageOutOfRange, "el mapa de uso está fuera del archivo");
    DataPage page(bytes, layout);
    if (!page.is_data_page()) return fail(FaultKind::UsageMapRow, "el mapa de uso no está en una página de datos");
    if (at.row >= page.row_count()) return fail(FaultKind::UsageMapRow, "la fila del mapa de uso no existe");
    Bytes row = page.row(at.row);
    if (row.empty()) return fail(FaultKind::UsageMapRow, "la fila del mapa de uso tiene límites incorrectos");
    UsageMap map = parse_usage_map(row, file, layout);
    for (auto& f : map.faults) {
        if (f.page == 0) {
            f.page = at.page;
            f.row = at.row;
        }
    }
    return map;
}

}  // namespace jet
