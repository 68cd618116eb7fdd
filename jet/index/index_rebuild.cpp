#include "jet/index/index_rebuild.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>

#include "jet/base/engine_error.h"
#include "jet/index/index.h"
#include "jet/index/index_build.h"
#include "jet/index/index_check.h"
#include "jet/index/index_placement.h"
#include "jet/index/index_row_key.h"
#include "jet/index/key_sorter.h"
#include "jet/index/unique_keys.h"
#include "jet/format/usage_map.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr uint32_t kGlobalMapRow = 1u << 8;  // page 1, row 0 as a stored row pointer

// Where the real-index blocks start in the logical TDEF buffer: after the per-index
// count entries, the column descriptors and the column names.
std::optional<size_t> real_index_block(const TableDef& t, const Layout& l) {
    size_t pos = l.tdef_variable_start + size_t(t.num_real_idx) * l.real_index_count_entry_size +
                 size_t(t.num_cols) * l.column_size;
    for (uint16_t i = 0; i < t.num_cols; ++i) {
        if (pos + l.name_length_size > t.buffer.size()) return std::nullopt;
        pos += l.name_length_size + (l.name_length_size == 1 ? u8_at(t.buffer, pos) : u16_at(t.buffer, pos));
    }
    return pos;
}

// Patches u32 fields of the logical TDEF buffer in its chain of pages, read once for all
// the indexes of the table.
class TdefPatch {
public:
    TdefPatch(PageStore& store, const TableDef& t) : store_(store), chain_(t.pages), size_(store.page_size()) {}

    // Whether put_u32 can patch the field (checked first, so a failing index leaves no change).
    bool can_put(size_t logical) {
        for (size_t i = 0; i < 4; ++i) {
            const size_t k = page_of(logical + i);
            if (k >= chain_.size() || load(chain_[k]).size() != size_) return false;
        }
        return true;
    }
    bool put_u32(size_t logical, uint32_t value) {
        if (!can_put(logical)) return false;
        for (size_t i = 0; i < 4; ++i) {
            const size_t o = logical + i;
            const size_t at = o < size_ ? o : 8 + (o - size_) % (size_ - 8);
            load(chain_[page_of(o)])[at] = static_cast<uint8_t>(value >> (8 * i));
        }
        return true;
    }
    void save() {
        for (const auto& [n, bytes] : pages_) store_.write(n, bytes);
    }

private:
    size_t page_of(size_t o) const { return o < size_ ? 0 : 1 + (o - size_) / (size_ - 8); }
    std::vector<uint8_t>& load(uint32_t n) {
        auto it = pages_.find(n);
        if (it == pages_.end()) it = pages_.emplace(n, store_.read(n)).first;
        return it->second;
    }
    PageStore& store_;
    std::vector<uint32_t> chain_;
    size_t size_;
    std::map<uint32_t, std::vector<uint8_t>> pages_;
};

bool all_zero(std::span<const uint8_t> page) {
    return std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; });
}

bool index_page_of(std::span<const uint8_t> page, uint32_t owner) {
    return page.size() >= 8 && (page[0] == page_type::index_leaf || page[0] == page_type::index_node) &&
           u32_at(page, 4) == owner;
}

// A free page we may take: empty, or a stale index or definition page. Never a data or map
// page someone might still use despite its free bit.
bool reusable_free_page(const std::vector<uint8_t>& page) {
    if (page.empty()) return false;
    return page[0] == 0x00 || page[0] == page_type::index_leaf || page[0] == page_type::index_node ||
           page[0] == page_type::table_def;
}

// The pages an index's tree reaches (in tree order) and those its map lists (ascending).
struct NamedPages {
    std::vector<uint32_t> tree;
    std::vector<uint32_t> map;
};

NamedPages index_pages_named(const Database& db, const RealIndex& ri) {
    return {index_tree_pages(db.file(), db.layout(), ri.root_page),
            read_usage_map(db.file(), db.layout(), ri.owned_map).pages};
}

bool sorted_has(const std::vector<uint32_t>& sorted, uint32_t p) { return std::binary_search(sorted.begin(), sorted.end(), p); }

// The pages every index of a table names, each as often as indexes name it, sorted: a
// page is named by another index than one naming it itself when it occurs twice.
class PageNames {
public:
    explicit PageNames(const std::vector<NamedPages>& all) {
        for (const NamedPages& n : all) {
            const size_t from = pages_.size();
            pages_.insert(pages_.end(), n.tree.begin(), n.tree.end());
            pages_.insert(pages_.end(), n.map.begin(), n.map.end());
            // Once per index, however often its tree and map repeat it.
            std::sort(pages_.begin() + std::ptrdiff_t(from), pages_.end());
            pages_.erase(std::unique(pages_.begin() + std::ptrdiff_t(from), pages_.end()), pages_.end());
        }
        std::sort(pages_.begin(), pages_.end());
    }
    // Named by some index other than `own`, whose named pages are given.
    bool named_by_other(uint32_t p, bool named_by_own) const {
        const auto [lo, hi] = std::equal_range(pages_.begin(), pages_.end(), p);
        return size_t(hi - lo) > (named_by_own ? 1u : 0u);
    }

private:
    std::vector<uint32_t> pages_;
};

// The old pages that are this index's for sure: its own index pages listed in its map,
// pages its map lists that the tree also reaches (damaged ones), index pages of the table
// its tree reaches that no other index of the table names (a map that lost them), or
// empty pages either of them names. In tree order first, so an unchanged shape keeps its
// page numbers. Read from the file as it stood, which the tree walk has just read.
std::vector<uint32_t> own_old_pages(const PageFile& file, const NamedPages& named, uint32_t owner,
                                    const PageNames& names) {
    std::vector<uint32_t> in_tree = named.tree;
    std::sort(in_tree.begin(), in_tree.end());
    const std::vector<uint32_t>& in_map = named.map;
    std::vector<uint32_t> out;
    std::set<uint32_t> taken;
    auto consider = [&](uint32_t p) {
        if (p < 3 || p >= file.page_count() || taken.count(p)) return;
        const PageRef ref = file.fetch(p);
        const std::span<const uint8_t> page = ref.bytes();
        if (page.empty()) return;
        const bool mapped = sorted_has(in_map, p), reached = sorted_has(in_tree, p);
        const bool ours = index_page_of(page, owner);
        if ((mapped && ours) || (mapped && reached) || (reached && ours && !names.named_by_other(p, true)) ||
            all_zero(page)) {
            out.push_back(p);
            taken.insert(p);
        }
    };
    for (uint32_t p : named.tree) consider(p);
    for (uint32_t p : named.map) consider(p);
    return out;
}

std::string in_quotes(const std::string& s) { return "«" + s + "»"; }

}  // namespace

std::string real_index_label(const TableDef& table, size_t real_index) {
    for (const LogicalIndex& li : table.logical_indexes)
        if (li.real_number == real_index) return li.name;
    return "físico " + std::to_string(real_index);
}

namespace {

// The keys one real index should hold, sorted in one buffer, or why they cannot be built.
struct IndexKeys {
    size_t real_index = 0;
    bool ok = false;
    std::string reason;  // Spanish, when !ok
    KeySorter keys;
    size_t duplicate_keys = 0;
};

// One pass over the stored rows feeds every chosen index; keys are built in one reused
// buffer and sorted within the memory `limits` give the table (shared by its indexes).
std::vector<IndexKeys> collect_index_keys(Database& db, const TableDef& table, const std::string& name,
                                          const std::vector<size_t>& real_indexes, const KeySortLimits& limits) {
    std::vector<IndexKeys> out;
    std::vector<IndexKeyPlan> plans;
    KeySortLimits each = limits;
    each.memory = limits.memory / std::max<size_t>(1, real_indexes.size());
    for (size_t i : real_indexes) {
        IndexKeys e{i, false, {}, KeySorter(each), 0};
        IndexKeyPlan plan;
        if (i < table.real_indexes.size()) {
            plan = plan_index_key(table, table.real_indexes[i], db.layout(), db.header().version_byte);
        } else {
            plan.encodable = false;
            plan.reason = "el índice no existe en la definición de la tabla";
        }
        e.ok = plan.encodable;
        e.reason = plan.reason;
        out.push_back(std::move(e));
        plans.push_back(std::move(plan));
    }
    StoredRowKeys rows(table, db.decode_context());
    std::vector<size_t> prepared;
    for (const IndexKeyPlan& plan : plans) prepared.push_back(rows.prepare(plan));
    std::span<const uint8_t> key;
    Faults faults;
    db.scan_stored_rows(
        table, name,
        [&](const RowLocation& at, Bytes row) {
            if (!rows.load(row)) return;
            for (size_t k = 0; k < out.size(); ++k) {
                if (!out[k].ok) continue;
                bool all_null = true;
                if (!rows.key(prepared[k], key, all_null)) {
                    out[k].ok = false;
                    out[k].reason = "un valor de la tabla no tiene el tipo de su columna";
                    out[k].keys.clear();
                    continue;
                }
                if (all_null && (table.real_indexes[out[k].real_index].flags & index_flag::ignore_nulls)) continue;
                out[k].keys.add(key, RowPointer{at.page, static_cast<uint8_t>(at.row)}, all_null);
            }
        },
        faults);
    for (IndexKeys& e : out) {
        if (!e.ok) continue;
        e.keys.finish();
        // Rows whose key columns are all NULL never make a unique key repeat.
        if (unique_real_index(table, e.real_index)) e.duplicate_keys = repeated_keys(e.keys);
    }
    return out;
}

}  // namespace

std::vector<ExpectedIndex> expected_index_entries(Database& db, const TableDef& table, const std::string& name,
                                                  const std::vector<size_t>& real_indexes) {
    std::vector<ExpectedIndex> out;
    for (IndexKeys& k : collect_index_keys(db, table, name, real_indexes, {})) {
        ExpectedIndex e;
        e.real_index = k.real_index;
        e.ok = k.ok;
        e.reason = std::move(k.reason);
        e.duplicate_keys = k.duplicate_keys;
        SortedEntry entry;
        if (k.ok)
            for (KeySorter::Reader r = k.keys.read(); r.next(entry);) e.entries.push_back({KeyBytes(entry.key), entry.row, 0});
        out.push_back(std::move(e));
    }
    return out;
}

namespace {

// Pages the global map flagged free and that may be taken, found once for a table's indexes.
struct FreePages {
    bool ready = false;
    std::vector<uint32_t> pages;  // ascending
};

// The global map, read once for a table's indexes and kept until something else writes one
// of its pages (the edit tells).
class GlobalMap {
public:
    UsageMapEdit* get(const PageStore& store, const Layout& layout, std::string& why) {
        if (!loaded_ || (edit_ && edit_->outdated(store))) {
            edit_ = UsageMapEdit::load(store, layout, kGlobalMapRow, why_);
            loaded_ = true;
        }
        why = why_;
        return edit_ ? &*edit_ : nullptr;
    }

private:
    bool loaded_ = false;
    std::optional<UsageMapEdit> edit_;
    std::string why_;
};

class OneRebuild {
public:
    OneRebuild(Database& db, PageStore& store, const TableDef& table, const std::string& name, size_t real,
               std::vector<uint32_t> old, const std::set<uint32_t>& reserved, FreePages& free, TdefPatch& tdef,
               GlobalMap& global)
        : db_(db), store_(store), table_(table), name_(name), real_(real), old_(std::move(old)), reserved_(reserved),
          free_(free), tdef_(tdef), global_(global) {}

    void run(const IndexKeys& expected, IndexRebuildResult& r) {
        const Layout& layout = db_.layout();
        const RealIndex& ri = table_.real_indexes[real_];
        if (!expected.ok) return fail(r, std::string(": ") + expected.reason + ".");
        if (expected.duplicate_keys)
            return fail(r, ": es único y " + std::to_string(expected.duplicate_keys) +
                               " filas repiten la clave de otra.");
        const std::optional<size_t> block = real_index_block(table_, layout);
        if (!block) return fail(r, ": la definición de la tabla está incompleta.");

        IndexPlan built;
        KeySorterStream entries(expected.keys);
        try {
            built = plan_index(entries, layout, table_.page);
        } catch (const std::length_error&) {
            return fail(r, ": una clave no cabe en una página de índice.");
        }
        r.entries = built.entry_count;
        r.pages = built.pages.size();

        std::string why;
        UsageMapEdit* global = global_.get(store_, layout, why);
        if (!global) return fail(r, ": el mapa global de páginas no se puede usar (" + why + ").");
        std::optional<UsageMapEdit> owned = UsageMapEdit::load(store_, layout, ri.owned_map, why);
        if (!owned) return fail(r, ": su mapa de páginas no se puede usar (" + why + ").");

        // Pages: the index's own first, then free ones, then new ones at the end; the
        // owned map must be able to name them all (jet/index/index_placement.h).
        const std::vector<uint32_t>& old = old_;
        const size_t needed = built.pages.size();
        // Free and new pages only count once the index's own pages run short: finding
        // them reads the whole global map.
        bool all_found = needed > old.size();
        PagePools pools = page_pools(*global, needed, all_found);
        auto all_pools = [&] {
            if (!all_found) pools = page_pools(*global, needed, true);
            all_found = true;
        };
        Placement placed = place_pages(pools, needed);
        std::vector<uint32_t> map_pages;  // new map pages of a reference map
        if (owned->is_inline() && !owned->cover_all(placed.pages)) {
            all_pools();
            if (const auto start = best_window(pools, needed, owned->window_pages())) {
                const uint64_t end = uint64_t(*start) + owned->window_pages();
                placed = place_pages(pools, needed, [&](uint32_t p) { return p >= *start && p < end; });
                if (!owned->cover_all(placed.pages))
                    return fail(r, ": su mapa de páginas no abarca las páginas nuevas.");
            } else if (!owned->make_reference()) {
                return fail(r, ": su mapa de páginas no abarca las páginas nuevas.");
            }
        }
        if (placed.pages.size() < needed)
            return fail(r, ": necesita páginas nuevas que el mapa global de páginas no abarca.");
        if (!owned->is_inline()) {
            const auto slots = owned->missing_slots(placed.pages);
            if (!slots)
                return fail(r, ": su mapa de páginas no abarca las páginas nuevas.");
            if (needed + slots->size() > old.size()) all_pools();
            const Placement more = place_pages(pools, needed + slots->size());
            if (more.pages.size() < needed + slots->size())
                return fail(r, ": necesita páginas nuevas que el mapa global de páginas no abarca.");
            for (size_t i = 0; i < slots->size(); ++i) {
                map_pages.push_back(more.pages[needed + i]);
                owned->add_map_page((*slots)[i], map_pages.back());
            }
        }
        // The file grows: a reference global map records the new pages in their slot's map
        // page, and a slot without one gets one of the new pages too (pages already in the
        // file there marked used: the map kept no bit to say otherwise).
        std::vector<uint32_t> global_pages;
        std::vector<size_t> global_slots;
        if (!global->is_inline()) {
            std::vector<uint32_t> appended;
            for (const std::vector<uint32_t>* list : {&placed.pages, &map_pages})
                for (uint32_t p : *list)
                    if (p >= store_.page_count()) appended.push_back(p);
            const auto slots = global->missing_slots(appended);
            if (!slots) return fail(r, ": necesita páginas nuevas que el mapa global de páginas no abarca.");
            if (!slots->empty()) {
                all_pools();
                const size_t taken = needed + map_pages.size();
                const Placement more = place_pages(pools, taken + slots->size());
                if (more.pages.size() < taken + slots->size())
                    return fail(r, ": necesita páginas nuevas que el mapa global de páginas no abarca.");
                global_pages.assign(more.pages.begin() + static_cast<std::ptrdiff_t>(taken), more.pages.end());
                global_slots = *slots;
                std::vector<uint32_t> theirs;
                for (uint32_t p : global_pages)
                    if (p >= store_.page_count()) theirs.push_back(p);
                const auto further = global->missing_slots(theirs);
                if (!further || std::any_of(further->begin(), further->end(), [&](size_t s) {
                        return std::find(global_slots.begin(), global_slots.end(), s) == global_slots.end();
                    }))
                    return fail(r, ": necesita páginas nuevas que el mapa global de páginas no abarca.");
            }
        }
        const std::vector<uint32_t>& numbers = placed.pages;
        const std::set<uint32_t> chosen(numbers.begin(), numbers.end());
        r.pages_reused = placed.reused;
        r.pages_from_free = placed.from_free;
        r.pages_appended = placed.appended;
        r.map_pages_added = map_pages.size();

        const size_t count_at = layout.tdef_variable_start + real_ * layout.real_index_count_entry_size + 4;
        const size_t root_at = *block + real_ * layout.real_index_size + layout.ri_root_page;
        if (!tdef_.can_put(count_at) || !tdef_.can_put(root_at))
            return fail(r, ": la definición de la tabla está incompleta.");
        tdef_.put_u32(count_at, static_cast<uint32_t>(built.entry_count));
        tdef_.put_u32(root_at, numbers.front());

        // Everything is decided: write, each page as it is composed (in position order, so
        // pages appended to the file come in turn). The plan measured every page; one that
        // still cannot be composed stops the whole repair, whose copy is then thrown away.
        try {
            write_index_pages(built, entries, numbers, layout,
                              [&](size_t i, std::span<const uint8_t> bytes) { store_.write(numbers[i], bytes); });
        } catch (const std::length_error&) {
            throw EngineError("No se puede reconstruir el índice " + in_quotes(r.name) + " de la tabla " +
                              in_quotes(name_) + ": una página del índice no se puede componer.");
        }
        uint64_t end = store_.page_count();  // the file's end once every new page is in
        for (const std::vector<uint32_t>* list :
             std::initializer_list<const std::vector<uint32_t>*>{&numbers, &map_pages, &global_pages})
            for (uint32_t p : *list) end = std::max<uint64_t>(end, uint64_t(p) + 1);
        for (size_t i = 0; i < global_pages.size(); ++i) global->add_map_page(global_slots[i], global_pages[i], end);
        owned->clear_all();
        for (uint32_t p : numbers) {
            owned->set(p, true);
            global->set(p, false);
        }
        for (const std::vector<uint32_t>* list : {&map_pages, &global_pages})
            for (uint32_t p : *list) global->set(p, false);
        std::vector<uint8_t> empty;
        for (uint32_t p : old) {
            if (chosen.count(p)) continue;
            if (empty.empty()) empty.assign(store_.page_size(), 0);
            store_.write(p, empty);  // a freed page says nothing any more
            global->set(p, true);
            ++r.pages_freed;
        }
        owned->save_changes(store_);
        global->save_changes(store_);
        tdef_.save();
        r.rebuilt = true;
    }

private:
    // Reusable free pages (never another index's old pages), and how far new pages may go.
    PagePools page_pools(const UsageMapEdit& global, size_t needed, bool beyond_old) const {
        PagePools pools;
        pools.old = old_;
        const uint32_t count = store_.page_count();
        pools.append_from = pools.append_limit = count;
        if (!beyond_old) return pools;
        if (!free_.ready) {
            for (uint32_t p = 3; p < count; ++p)
                if (global.get(p) && !reserved_.count(p) && reusable_free_page(store_.read(p))) free_.pages.push_back(p);
            free_.ready = true;
        }
        // Earlier rebuilds of the table took some (their bits are clear now); the pages they
        // freed or appended are reserved or in use, so nothing joins the pool.
        for (uint32_t p : free_.pages)
            if (global.get(p)) pools.free.push_back(p);
        // Enough for the index and a map page per slot of its map, however the pages fall.
        const uint64_t enough = uint64_t(count) + needed + 64;
        while (pools.append_limit < enough && global.can_cover(pools.append_limit)) ++pools.append_limit;
        return pools;
    }

    // The message is composed only for an index that fails.
    void fail(IndexRebuildResult& r, const std::string& why) const {
        r.rebuilt = false;
        r.failure = "No se puede reconstruir el índice " + in_quotes(r.name) + " de la tabla " + in_quotes(name_) + why;
    }

    Database& db_;
    PageStore& store_;
    const TableDef& table_;
    const std::string& name_;
    size_t real_;
    std::vector<uint32_t> old_;
    const std::set<uint32_t>& reserved_;
    FreePages& free_;
    TdefPatch& tdef_;
    GlobalMap& global_;
};

}  // namespace

std::vector<IndexRebuildResult> rebuild_table_indexes(Database& db, PageStore& store, const TableDef& table,
                                                      const std::string& name, const std::vector<size_t>& real_indexes,
                                                      const KeySortLimits& limits) {
    std::vector<IndexKeys> expected = collect_index_keys(db, table, name, real_indexes, limits);
    // Old pages of every index about to be rebuilt stay out of the free pool.
    std::set<uint32_t> reserved;
    std::vector<NamedPages> named;
    for (const RealIndex& ri : table.real_indexes) named.push_back(index_pages_named(db, ri));
    const PageNames names(named);
    std::vector<std::vector<uint32_t>> old(real_indexes.size());
    for (size_t k = 0; k < real_indexes.size(); ++k) {
        if (real_indexes[k] >= table.real_indexes.size()) continue;
        old[k] = own_old_pages(db.file(), named[real_indexes[k]], table.page, names);
        reserved.insert(old[k].begin(), old[k].end());
    }
    std::vector<IndexRebuildResult> results;
    FreePages free;
    TdefPatch tdef(store, table);
    GlobalMap global;
    for (size_t k = 0; k < expected.size(); ++k) {
        const IndexKeys& e = expected[k];
        IndexRebuildResult r;
        r.real_index = e.real_index;
        r.name = real_index_label(table, e.real_index);
        OneRebuild(db, store, table, name, e.real_index, std::move(old[k]), reserved, free, tdef, global).run(e, r);
        results.push_back(std::move(r));
    }
    return results;
}

}  // namespace jet
