// Usage maps whose row is gone (TDEF_MAP_POINTER, TDEF_INDEX_MAP, TDEF_LV_MAP): a file cut
// short or a page emptied takes the map rows it hosted with it, and nothing can be written
// back into a row that does not exist. A map whose row another map (of any table) names too
// is in the same state: whatever one writes there, the other undoes. Each such map gets a fresh, empty inline map row on a
// new map host page at the end of the file and its definition is pointed at it; the map
// rebuild and the index rebuild then fill the bits in from what the pages hold.
//
// Every lost pointer of every table is re-pointed in one go, before anything else appends
// pages: a pointer left naming a page past the end would silently name the next page added.
#include <algorithm>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/format/fix_data_page.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/fix_table_def.h"
#include "jet/format/map_pointers.h"
#include "jet/repair/repair.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr uint8_t kInlineMap = 0x00;
constexpr std::size_t kInlineHead = 5;  // type byte and first page covered

// Bitmap bytes of a table, index or long-value map as Access creates them.
std::size_t map_bitmap_bytes(const Layout& layout) { return layout.page_size == 2048 ? 128 : 64; }

// A map pointer as it sits in a definition: which chain, where in the logical buffer.
struct MapPointer {
    uint32_t tdef_page = 0;
    std::vector<uint32_t> chain;
    std::size_t offset = 0;
};

bool all_zero(const std::vector<uint8_t>& page) {
    return std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; });
}

// Lost: the row it names is not a live row of a map host page inside the file. A row that
// is there but does not read as a map is another problem, for the map fixes.
bool map_row_lost(const FixContext& context, const Layout& layout, uint32_t pointer) {
    if (pointer == 0) return false;  // no map at all: nothing to restore
    const RowPointer at = RowPointer::from_u32(pointer);
    if (at.page == 0 || at.page >= context.page_count()) return true;
    const std::vector<uint8_t> bytes = context.read_page(at.page);
    if (all_zero(bytes)) return true;
    const DataPage page(bytes, layout);
    if (!page.is_data_page() || (page.owner() != 0 && at.page != 1)) return true;
    if (at.row >= page.row_count()) return true;
    const RowSlot slot = page.slot(at.row);
    return !slot.bounds_ok || slot.deleted() || slot.length() == 0;
}

std::vector<uint32_t> table_pages(Database& db) {
    std::set<uint32_t> pages{kCatalogPage};
    for (const CatalogEntry& e : db.catalog().entries)
        if (e.type == object_type::table && !e.linked()) pages.insert(e.tdef_page());
    return {pages.begin(), pages.end()};
}

// An index's map row that is there but cannot be edited (of an unknown type, too short,
// naming map pages that are none): the index rebuild could not record its pages in it.
// The index is rebuilt from the rows anyway, so a fresh row loses nothing.
bool index_map_unusable(FixContext& context, const Layout& layout, const MapPointerRef& m) {
    if (m.kind != MapPointerRef::Kind::Index || m.pointer == 0) return false;
    PageStore& store = context;
    std::string why;
    return !UsageMapEdit::load(store, layout, m.pointer, why).has_value();
}

std::vector<MapPointer> lost_pointers(FixContext& context) {
    const Layout& layout = *context.header().layout;
    std::vector<MapPointer> lost;
    std::set<uint32_t> named;  // rows already taken by a map walked before
    Database& db = context.database();
    for (uint32_t tdef : table_pages(db)) {
        if (tdef == 0 || tdef >= context.page_count()) continue;
        const TableDefResult& read = db.table_def(tdef);
        if (!read.table || !read.table->complete) continue;  // for the definition fixes
        for (const MapPointerRef& m : map_pointers(*read.table, layout)) {
            // A row a map walked before already names is as good as lost to this one.
            const bool shared = m.pointer != 0 && !named.insert(m.pointer).second;
            if (shared || map_row_lost(context, layout, m.pointer) || index_map_unusable(context, layout, m))
                lost.push_back({tdef, read.table->pages, m.offset});
        }
    }
    return lost;
}

// Writes a u32 at a logical offset of a definition: the first page holds the buffer from
// byte 0, each continuation page from its byte 8.
bool put_in_chain(FixContext& context, const std::vector<uint32_t>& chain, std::size_t logical, uint32_t value) {
    const std::size_t size = context.page_size();
    auto page_of = [&](std::size_t o) { return o < size ? 0 : 1 + (o - size) / (size - 8); };
    if (page_of(logical + 3) >= chain.size()) return false;  // nothing written then
    // The four bytes usually share a page: it is read and written once.
    std::size_t loaded = chain.size();
    std::vector<uint8_t> page;
    for (int i = 0; i < 4; ++i) {
        const std::size_t o = logical + std::size_t(i);
        const std::size_t k = page_of(o);
        const std::size_t at = o < size ? o : 8 + (o - size) % (size - 8);
        if (k != loaded) {
            if (loaded < chain.size()) context.write_page(chain[loaded], page);
            page = context.read_page(chain[k]);
            if (page.size() != size) return false;
            loaded = k;
        }
        page[at] = static_cast<uint8_t>(value >> (8 * i));
    }
    context.write_page(chain[loaded], page);
    return true;
}

// A map host page (owner 0) with `rows` empty inline maps.
std::vector<uint8_t> host_page(const Layout& layout, std::size_t rows) {
    std::vector<uint8_t> page = empty_data_page(layout, 0);
    const std::size_t row_length = kInlineHead + map_bitmap_bytes(layout);
    const std::size_t slots = layout.data_row_count + 2;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t start = layout.page_size - (r + 1) * row_length;
        page[start] = kInlineMap;  // first page covered 0, no bit set
        page[slots + 2 * r] = static_cast<uint8_t>(start);
        page[slots + 2 * r + 1] = static_cast<uint8_t>(start >> 8);
    }
    page[layout.data_row_count] = static_cast<uint8_t>(rows);
    page[layout.data_row_count + 1] = static_cast<uint8_t>(rows >> 8);
    set_free_space(page, layout);
    return page;
}

std::size_t rows_per_host(const Layout& layout) {
    const std::size_t room = layout.page_size - (layout.data_row_count + 2);
    return std::min<std::size_t>(room / (kInlineHead + map_bitmap_bytes(layout) + 2), 255);
}

// Pages the repair may add at the end of the file at most: bits for pages past the end are
// cleared this far, which is as far as an added page could make them name something.
constexpr uint32_t kPagesAddedAtMost = 1u << 16;

// Index roots and index-map bits naming pages past the end of the file. Index maps and
// roots are only rewritten by the index rebuild, which runs later: until then a root or a
// bit naming page N would name whatever page the repair adds as page N (another index's,
// a map host), and the rebuild would take it for the index's own old page.
void forget_pages_past_end(FixContext& context) {
    const Layout& layout = *context.header().layout;
    const uint32_t end = context.page_count();
    Database& db = context.database();
    PageStore& store = context;
    for (uint32_t tdef : table_pages(db)) {
        if (tdef == 0 || tdef >= end) continue;
        const TableDefResult& read = db.table_def(tdef);
        if (!read.table || !read.table->complete) continue;
        const TableDef& t = *read.table;
        for (const RealIndex& ri : t.real_indexes) {
            if (ri.root_page >= end) put_in_chain(context, t.pages, ri.descriptor_offset + layout.ri_root_page, 0);
            if (ri.owned_map == 0 || map_row_lost(context, layout, ri.owned_map)) continue;
            std::string why;
            std::optional<UsageMapEdit> map = UsageMapEdit::load(store, layout, ri.owned_map, why);
            if (!map) continue;
            map->clear_range(end, kPagesAddedAtMost);
            map->save(store);
        }
    }
}

}  // namespace

void replace_lost_map_rows(FixContext& context) {
    const Layout& layout = *context.header().layout;
    const std::vector<MapPointer> lost = lost_pointers(context);
    const std::size_t per_page = rows_per_host(layout);
    for (std::size_t first = 0; first < lost.size(); first += per_page) {
        const std::size_t rows = std::min(per_page, lost.size() - first);
        const uint32_t host = context.page_count();
        context.append_page(host_page(layout, rows));
        for (std::size_t r = 0; r < rows; ++r) {
            const MapPointer& p = lost[first + r];
            put_in_chain(context, p.chain, p.offset, host << 8 | static_cast<uint32_t>(r));
        }
    }
}

void fix_map_pointers(FixContext& context, std::span<const Finding> findings) {
    forget_pages_past_end(context);
    replace_lost_map_rows(context);
    fix_table_defs_then_maps(context, findings);
}

}  // namespace jet
