// DPAGE_HEADER_LOST: a page a table's map lists whose first sector reads back as zeros
// (a write that never reached the disk). The owner is the table whose map lists the page;
// the rows still packed below the header are framed from the page end and given a header
// and offsets again. The bytes of a row cut by the zeros go to the recovery file. The
// catalog comes first: the tables whose rows it held are known only once it reads again.
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_header.h"
#include "jet/format/database.h"
#include "jet/repair/dropped_row.h"
#include "jet/index/index.h"
#include "jet/index/index_row_key.h"
#include "jet/repair/moved_rows.h"
#include "jet/repair/fix_rows.h"
#include "jet/repair/repair.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

// The rows of `page` that overflow headers on the table's other pages point at: rows moved
// there when they grew, flagged so that scans skip them.
std::set<uint16_t> moved_here(Database& db, const std::vector<uint32_t>& pages, uint32_t page) {
    std::set<uint16_t> rows;
    for (uint32_t p : pages) {
        if (p == page) continue;
        const PageRef bytes = db.file().fetch(p);
        const DataPage other(bytes, db.layout());
        if (!other.is_data_page()) continue;
        for (uint16_t i = 0; i < other.row_count(); ++i) {
            const RowSlot s = other.slot(i);
            if (s.deleted() || !s.overflow() || s.length() < 4) continue;
            const RowPointer to = RowPointer::from_u32(u32_at(other.row(i), 0));
            if (to.page == page) rows.insert(to.row);
        }
    }
    return rows;
}

// The rows of `page` an index of the table lists, when one reads whole and lists any there:
// every live row has an entry in every index, so a row no entry names was deleted (Access
// keeps a deleted row's bytes). Empty when no index says.
std::set<uint16_t> indexed_here(Database& db, const TableDef& def, uint32_t page) {
    for (const RealIndex& index : def.real_indexes) {
        if (index.root_page == 0 || index.root_page >= db.file().page_count()) continue;
        const IndexTree tree = read_index_tree(db.file(), db.layout(), index.root_page, def.page, index.entry_count);
        if (!tree.valid()) continue;
        std::set<uint16_t> rows;
        for (size_t i = 0; i < tree.entries.size(); ++i)
            if (tree.entries.row(i).page == page) rows.insert(tree.entries.row(i).row);
        if (!rows.empty()) return rows;
    }
    return {};
}

// The key bytes each framed row has in `plan`'s index; empty where none can be built. A
// 4-byte overflow header is keyed by the row it points at.
std::vector<std::optional<std::vector<uint8_t>>> framed_keys(Database& db, const TableDef& def, Bytes page,
                                                             const FramedRows& rows, const IndexKeyPlan& plan) {
    StoredRowKeys keys(def, db.decode_context());
    index_key::Key key;
    std::vector<std::optional<std::vector<uint8_t>>> out(rows.slots.size());
    for (size_t k = 0; k < rows.slots.size(); ++k) {
        const uint16_t start = rows.slots[k] & kRowOffsetMask;
        const uint16_t end = k == 0 ? uint16_t(page.size()) : uint16_t(rows.slots[k - 1] & kRowOffsetMask);
        if (start >= end || end > page.size()) continue;
        Bytes row = page.subspan(start, end - start);
        PageRef target;
        if (rows.slots[k] & kRowOverflow) {
            const RowPointer to = RowPointer::from_u32(u32_at(row, 0));
            if (to.page == 0 || to.page >= db.file().page_count()) continue;
            target = db.file().fetch(to.page);
            const DataPage moved(target, db.layout());
            if (!moved.is_data_page() || to.row >= moved.row_count() || !moved.slot(to.row).bounds_ok) continue;
            row = moved.row(to.row);
        }
        bool all_null = false;
        if (keys.load(row) && keys.key(plan, key, all_null)) out[k].emplace(key.begin(), key.end());
    }
    return out;
}

// An index whose keys we can compute and whose tree reads whole, with its key plan and tree.
struct ReadableIndex {
    IndexKeyPlan plan;
    IndexTree tree;
};
std::optional<ReadableIndex> readable_index(Database& db, const TableDef& def, const RealIndex& index) {
    if (index.root_page == 0 || index.root_page >= db.file().page_count()) return std::nullopt;
    IndexKeyPlan plan = plan_index_key(def, index, db.layout(), db.header().version_byte);
    if (!plan.encodable) return std::nullopt;
    IndexTree tree = read_index_tree(db.file(), db.layout(), index.root_page, def.page, index.entry_count);
    if (!tree.valid()) return std::nullopt;
    return ReadableIndex{std::move(plan), std::move(tree)};
}

// Slot numbers told by an index: rows keep their slot order down the page, but a deleted
// row of no length takes a slot and frames as nothing, so the rows after it would take
// numbers one too low and the indexes would name the wrong rows. Each framed row takes the
// next slot the index names with its key on this page (the slots skipped become empty
// deleted ones); a row no entry names was deleted and keeps the next number. Nothing when
// no index of the table reads whole and keys a row here.
std::optional<FramedRows> number_by_index(Database& db, const TableDef& def, uint32_t page_number, Bytes page,
                                          const FramedRows& rows) {
    std::optional<FramedRows> best;
    size_t best_matched = 0;
    for (const RealIndex& index : def.real_indexes) {
        const auto readable = readable_index(db, def, index);
        if (!readable) continue;
        const auto& [plan, tree] = *readable;
        std::map<uint16_t, std::vector<uint8_t>> named;  // slot -> key
        for (size_t i = 0; i < tree.entries.size(); ++i)
            if (tree.entries.row(i).page == page_number) {
                const auto key = tree.entries.key(i);
                named[tree.entries.row(i).row].assign(key.begin(), key.end());
            }
        if (named.empty()) continue;
        const auto keys = framed_keys(db, def, page, rows, plan);
        FramedRows out = rows;
        out.slots.clear();
        size_t matched = 0;
        uint16_t next = 0;
        for (size_t k = 0; k < rows.slots.size(); ++k) {
            auto at = named.end();
            if (keys[k])
                for (auto it = named.lower_bound(next); it != named.end(); ++it)
                    if (it->second == *keys[k]) {
                        at = it;
                        break;
                    }
            if (at == named.end()) {
                out.slots.push_back(rows.slots[k] | kRowDeleted);  // deleted, or a moved row's new place
                ++next;
                continue;
            }
            const uint16_t end = k == 0 ? uint16_t(page.size()) : uint16_t(rows.slots[k - 1] & kRowOffsetMask);
            for (; next < at->first; ++next) out.slots.push_back(kRowDeleted | kRowOverflow | end);
            out.slots.push_back(rows.slots[k]);
            ++next;
            ++matched;
        }
        if (out.slots.size() > 255) continue;
        if (matched > best_matched) {
            best = std::move(out);
            best_matched = matched;
        }
    }
    return best;
}

// A row moved off the rebuilt page when it grew keeps its bytes on another page, flagged as
// a moved row; its pointer lay in the lost sector, so nothing names it now and it would
// read as deleted. An index entry that still names the lost slot with the moved row's key
// says which row it was: the moved row becomes an ordinary row where it lies (the indexes
// are rebuilt afterwards). Pointers still framed on the page keep their rows.
void revive_orphaned_moves(FixContext& context, Database& db, const TableDef& def, const std::vector<uint32_t>& pages,
                           uint32_t page_number, const FramedRows& rows, Bytes page) {
    std::set<uint16_t> live;
    for (size_t k = 0; k < rows.slots.size(); ++k)
        if ((rows.slots[k] & kRowDeleted) == 0) live.insert(uint16_t(k));
    std::set<std::pair<uint32_t, uint16_t>> pointed;
    for (size_t k = 0; k < rows.slots.size(); ++k)
        if ((rows.slots[k] & (kRowDeleted | kRowOverflow)) == kRowOverflow) {
            const uint16_t start = rows.slots[k] & kRowOffsetMask;
            if (size_t(start) + 4 <= page.size()) {
                const RowPointer to = RowPointer::from_u32(u32_at(page, start));
                pointed.insert({to.page, to.row});
            }
        }
    const std::vector<MovedRow> orphans = unnamed_moved_rows(db, def.page, pages, page_number, std::move(pointed));
    if (orphans.empty()) return;
    for (const RealIndex& index : def.real_indexes) {
        const auto readable = readable_index(db, def, index);
        if (!readable) continue;
        const auto& [plan, tree] = *readable;
        std::vector<std::vector<uint8_t>> lost_keys;  // keys of entries naming a slot the page no longer holds
        for (size_t i = 0; i < tree.entries.size(); ++i)
            if (tree.entries.row(i).page == page_number && !live.count(tree.entries.row(i).row)) {
                const auto key = tree.entries.key(i);
                lost_keys.emplace_back(key.begin(), key.end());
            }
        if (lost_keys.empty()) return;
        StoredRowKeys keys(def, db.decode_context());
        index_key::Key key;
        for (const MovedRow& o : orphans) {
            const PageRef bytes = db.file().fetch(o.page);
            const DataPage other(bytes, db.layout());
            bool all_null = false;
            if (!keys.load(other.row(o.row)) || !keys.key(plan, key, all_null)) continue;
            const auto named = std::find_if(lost_keys.begin(), lost_keys.end(), [&](const std::vector<uint8_t>& k) {
                return std::equal(k.begin(), k.end(), key.begin(), key.end());
            });
            if (named == lost_keys.end()) continue;
            lost_keys.erase(named);
            make_ordinary_row(context, db.layout(), o);
        }
        return;  // one index that reads whole says enough
    }
}

// Live rows (neither deleted nor moved-to targets) on the table's other listed pages.
size_t live_rows_elsewhere(Database& db, const TableDef& def, const std::vector<uint32_t>& pages, uint32_t except) {
    size_t live = 0;
    for (uint32_t q : pages) {
        if (q == except || q >= db.file().page_count()) continue;
        const PageRef bytes = db.file().fetch(q);
        const DataPage page(bytes, db.layout());
        if (!page.is_data_page() || page.owner() != def.page) continue;
        for (uint16_t k = 0; k < page.row_count(); ++k)
            if (const RowSlot s = page.slot(k); !s.deleted() && s.bounds_ok) ++live;
    }
    return live;
}

// Rows framed on the page that are to be live.
size_t live_framed(const FramedRows& rows) {
    return size_t(std::count_if(rows.slots.begin(), rows.slots.end(),
                                [](uint16_t raw) { return (raw & kRowDeleted) == 0; }));
}

// Rebuilds the lost headers among the pages one table's map lists; true when one was.
bool rebuild_headers_of(FixContext& context, Database& db, uint32_t tdef_page, const std::string& name) {
    const TableDefResult& read = db.table_def(tdef_page);
    if (!read.table || !read.table->complete || read.table->columns.empty() || !rows_can_be_framed(*read.table))
        return false;
    const TableDef& def = *read.table;
    const Layout& layout = db.layout();
    const UsageMap map = read_usage_map(db.file(), layout, def.owned_map);
    if (!map.readable) return false;
    bool rebuilt = false;
    // An overflow header points at a row of the table's that is flagged as moved there.
    const auto moved = [&](Bytes pointer) {
        const RowPointer to = RowPointer::from_u32(u32_at(pointer, 0));
        if (to.page == 0 || to.page >= db.file().page_count()) return false;
        const PageRef bytes = db.file().fetch(to.page);
        const DataPage target(bytes, layout);
        if (!target.is_data_page() || target.owner() != tdef_page || to.row >= target.row_count()) return false;
        const RowSlot s = target.slot(to.row);
        return s.bounds_ok && (s.raw & (kRowDeleted | kRowOverflow)) == kRowDeleted &&
               row_sound(def, layout, target.row(to.row));
    };
    for (uint32_t p : map.pages) {
        std::vector<uint8_t> page = context.read_page(p);
        if (page.size() != layout.page_size || !data_page_header_lost(page)) continue;
        // The trailer test first: it reads a few bytes, where decoding a row allocates.
        const auto exact = [&](Bytes row) { return row_packed(def, layout, row) && row_sound(def, layout, row); };
        FramedRows rows = frame_rows_from_end(page, layout, exact, moved);
        const std::optional<FramedRows> numbered = number_by_index(db, def, p, page, rows);
        if (numbered) rows = *numbered;
        const std::set<uint16_t> targets = moved_here(db, map.pages, p);
        for (uint16_t k : targets)
            if (k < rows.slots.size() && !(rows.slots[k] & kRowOverflow)) rows.slots[k] |= kRowDeleted;
        if (numbered) {
            for (size_t k = 0; k < rows.slots.size(); ++k)
                if ((rows.slots[k] & (kRowDeleted | kRowOverflow)) == kRowDeleted && !targets.count(uint16_t(k)))
                    rows.slots[k] |= kRowOverflow;
        } else if (const std::set<uint16_t> indexed = indexed_here(db, def, p); !indexed.empty()) {
            for (size_t k = 0; k < rows.slots.size(); ++k)
                if ((rows.slots[k] & (kRowDeleted | kRowOverflow)) == 0 && !indexed.count(uint16_t(k)))
                    rows.slots[k] |= kRowDeleted | kRowOverflow;
        } else if (tdef_page != kCatalogPage &&
                   live_framed(rows) > def.num_rows - std::min<size_t>(def.num_rows,
                                                                       live_rows_elsewhere(db, def, map.pages, p))) {
            // No index says which rows Access deleted (their bytes stay), and the stored count
            // says some were: none can be told live, so none comes back; each is saved.
            for (size_t k = 0; k < rows.slots.size(); ++k) {
                if (rows.slots[k] & kRowDeleted) continue;
                const uint16_t start = rows.slots[k] & kRowOffsetMask;
                const uint16_t end = k == 0 ? uint16_t(layout.page_size) : uint16_t(rows.slots[k - 1] & kRowOffsetMask);
                if (start < end && end <= page.size())
                    context.save_dropped(RecoveredItem{name, p, int(k), {},
                                                       "fila de una página cuya cabecera se perdió; no se puede saber si "
                                                       "Access la había borrado, así que no se recupera",
                                                       {}, std::vector<uint8_t>(page.begin() + start, page.begin() + end)});
                rows.slots[k] |= kRowDeleted | kRowOverflow;
            }
        }
        if (rows.leftover < rows.lowest) {
            const Bytes cut = Bytes(page).subspan(rows.leftover, rows.lowest - rows.leftover);
            RecoveredItem item{name, p, -1, {},
                               "la fila quedó cortada por la pérdida del principio de la página; se quita",
                               {}, std::vector<uint8_t>(cut.begin(), cut.end())};
            context.save_dropped(item);
        }
        revive_orphaned_moves(context, db, def, map.pages, p, rows, page);
        rebuild_data_page_header(page, layout, tdef_page, rows);
        context.write_page(p, page);
        rebuilt = true;
    }
    return rebuilt;
}

}  // namespace

void fix_lost_page_headers(FixContext& context, std::span<const Finding>) {
    rebuild_headers_of(context, context.database(), kCatalogPage, "MSysObjects");
    Database& db = context.database();
    if (!db.catalog().readable) return;
    for (const CatalogTable& t : every_table(db.catalog(), context.page_count()))
        if (t.tdef_page != kCatalogPage) rebuild_headers_of(context, db, t.tdef_page, t.name);  // done above
}

}  // namespace jet
