#include "jet/format/map_pointers.h"

namespace jet {

std::vector<MapPointerRef> map_pointers(const TableDef& t, const Layout& layout) {
    using K = MapPointerRef::Kind;
    std::vector<MapPointerRef> out{{K::TablePages, 0, t.owned_map, layout.tdef_owned_map},
                                   {K::TableFree, 0, t.free_map, layout.tdef_free_map}};
    for (std::size_t i = 0; i < t.real_indexes.size(); ++i)
        out.push_back({K::Index, i, t.real_indexes[i].owned_map, t.real_indexes[i].descriptor_offset + layout.ri_owned_map});
    for (const LongValueMaps& lv : t.long_value_maps) {
        out.push_back({K::LongValuePages, lv.column_number, lv.owned_map, lv.descriptor_offset + 2});
        out.push_back({K::LongValueFree, lv.column_number, lv.free_map, lv.descriptor_offset + 6});
    }
    return out;
}

}  // namespace jet
