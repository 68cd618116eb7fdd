#include "jet/check/page_copies.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/index/index.h"
#include "jet/index/index_row_key.h"
#include "jet/format/table_pages.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

// A listed data page with live rows, fingerprinted by its live rows in slot order.
struct Candidate {
    uint32_t page = 0;
    uint32_t listed_by = 0;
    uint32_t owner = 0;
    uint32_t rows = 0;
    uint64_t fingerprint = 0;
};

void mix(uint64_t& h, uint8_t byte) {
    h ^= byte;
    h *= 1099511628211ull;
}

std::optional<Candidate> candidate(const PageFile& file, const Layout& layout, uint32_t number, uint32_t listed_by) {
    const PageRef bytes = file.fetch(number);
    const DataPage page(bytes, layout);
    if (!page.is_data_page() || page.is_lval() || page.owner() == 0) return std::nullopt;
    Candidate c{number, listed_by, page.owner(), 0, 14695981039346656037ull};
    for (uint16_t i = 0; i < page.row_count(); ++i) {
        const RowSlot slot = page.slot(i);
        if (slot.deleted() || !slot.bounds_ok) continue;
        ++c.rows;
        mix(c.fingerprint, static_cast<uint8_t>(slot.overflow()));
        for (uint8_t b : page.row(i)) mix(c.fingerprint, b);
        mix(c.fingerprint, 0xA5);  // row boundary
    }
    if (c.rows == 0) return std::nullopt;
    return c;
}

// The same live rows, flags and bytes, in the same slot order.
bool same_rows(const PageFile& file, const Layout& layout, uint32_t a, uint32_t b) {
    const PageRef a_bytes = file.fetch(a), b_bytes = file.fetch(b);
    const DataPage pa(a_bytes, layout), pb(b_bytes, layout);
    auto live = [](const DataPage& p) {
        std::vector<uint16_t> out;
        for (uint16_t i = 0; i < p.row_count(); ++i)
            if (const RowSlot s = p.slot(i); !s.deleted() && s.bounds_ok) out.push_back(i);
        return out;
    };
    const std::vector<uint16_t> la = live(pa), lb = live(pb);
    if (la.size() != lb.size()) return false;
    for (size_t k = 0; k < la.size(); ++k) {
        if (pa.slot(la[k]).overflow() != pb.slot(lb[k]).overflow()) return false;
        const Bytes ra = pa.row(la[k]), rb = pb.row(lb[k]);
        if (!std::equal(ra.begin(), ra.end(), rb.begin(), rb.end())) return false;
    }
    return true;
}

// What a table's index entries say about one of its listed pages.
struct IndexWitness {
    uint32_t matching = 0;     // entries whose key is that of the row now in their slot
    uint32_t not_matching = 0;
    uint32_t rows_pointed = 0;  // most slots of the page one index points at
    bool indexed = false;       // the table has an index whose entries could be read
};

class TableIndexes {
public:
    TableIndexes(Database& db, const TableDef& def) : db_(db), def_(def), keys_(def, db.decode_context()) {
        for (const RealIndex& index : def.real_indexes) {
            if (index.root_page == 0) continue;
            IndexTree tree = read_index_tree(db.file(), db.layout(), index.root_page, def.page, index.entry_count);
            if (!tree.valid()) continue;
            indexes_.push_back({plan_index_key(def, index, db.layout(), db.header().version_byte), std::move(tree)});
        }
    }

    IndexWitness witness(uint32_t page_number) {
        IndexWitness w;
        const PageRef bytes = db_.file().fetch(page_number);
        const DataPage page(bytes, db_.layout());
        const bool own_rows = page.owner() == def_.page;
        index_key::Key key;
        for (const Index& index : indexes_) {
            w.indexed = true;
            std::set<uint8_t> slots;
            for (size_t i = 0; i < index.tree.entries.size(); ++i) {
                const RowPointer at = index.tree.entries.row(i);
                if (at.page != page_number) continue;
                slots.insert(at.row);
                if (own_rows && index.plan.encodable && key_matches(index, i, page, at.row, key)) ++w.matching;
                else ++w.not_matching;
            }
            w.rows_pointed = std::max<uint32_t>(w.rows_pointed, static_cast<uint32_t>(slots.size()));
        }
        return w;
    }

    const TableDef& def() const { return def_; }

private:
    struct Index {
        IndexKeyPlan plan;
        IndexTree tree;
    };

    bool key_matches(const Index& index, size_t entry, const DataPage& page, uint8_t slot, index_key::Key& key) {
        if (slot >= page.row_count()) return false;
        const Bytes row = locate_row(db_.file(), page, def_.page, slot);
        bool all_null = false;
        if (row.empty() || !keys_.load(row) || !keys_.key(index.plan, key, all_null)) return false;
        const std::span<const uint8_t> stored = index.tree.entries.key(entry);
        return std::equal(key.begin(), key.end(), stored.begin(), stored.end());
    }

    Database& db_;
    const TableDef& def_;
    StoredRowKeys keys_;
    std::vector<Index> indexes_;
};

struct Judged {
    const Candidate* c = nullptr;
    bool owner_ok = false;
    IndexWitness index;
};

class CopyFinder {
public:
    explicit CopyFinder(Database& db) : db_(db) {}

    std::vector<PageCopy> find(const std::vector<uint32_t>& tables, const std::vector<uint32_t>& also) {
        collect(tables, also);
        // Candidates with one fingerprint side by side (a judgment does not depend on the
        // order within a run): sorted in place, where a map of runs cost ten times the
        // candidates themselves on a large file.
        std::sort(candidates_.begin(), candidates_.end(),
                  [](const Candidate& a, const Candidate& b) { return a.fingerprint < b.fingerprint; });
        std::vector<PageCopy> out;
        std::vector<const Candidate*> group;
        for (size_t i = 0; i < candidates_.size();) {
            size_t end = i + 1;
            while (end < candidates_.size() && candidates_[end].fingerprint == candidates_[i].fingerprint) ++end;
            if (end - i > 1) {
                group.clear();
                for (size_t k = i; k < end; ++k) group.push_back(&candidates_[k]);
                judge(group, out);
            }
            i = end;
        }
        std::sort(out.begin(), out.end(), [](const PageCopy& a, const PageCopy& b) { return a.copy < b.copy; });
        return out;
    }

private:
    void collect(const std::vector<uint32_t>& tables, const std::vector<uint32_t>& also) {
        std::vector<bool> seen(db_.file().page_count(), false);
        const auto first_time = [&seen](uint32_t p) {
            if (p >= seen.size() || seen[p]) return false;
            seen[p] = true;
            return true;
        };
        for (uint32_t tdef : tables) {
            const TableDefResult& read = db_.table_def(tdef);
            if (!read.table) continue;
            const UsageMap map = read_usage_map(db_.file(), db_.layout(), read.table->owned_map);
            if (!map.readable) continue;
            for (uint32_t p : map.pages)
                if (first_time(p))
                    if (auto c = candidate(db_.file(), db_.layout(), p, tdef)) candidates_.push_back(*c);
        }
        for (uint32_t p : also)
            if (first_time(p))
                if (auto c = candidate(db_.file(), db_.layout(), p, 0)) candidates_.push_back(*c);
    }

    TableIndexes* indexes_of(uint32_t tdef) {
        if (tdef == 0) return nullptr;
        if (auto it = indexes_.find(tdef); it != indexes_.end()) return it->second.get();
        const TableDefResult& read = db_.table_def(tdef);
        std::unique_ptr<TableIndexes> made;
        if (read.table && read.table->complete) made = std::make_unique<TableIndexes>(db_, *read.table);
        return indexes_.emplace(tdef, std::move(made)).first->second.get();
    }

    Judged judged(const Candidate& c) {
        Judged j{&c, c.listed_by != 0 && c.owner == c.listed_by, {}};
        if (TableIndexes* t = indexes_of(c.listed_by)) j.index = t->witness(c.page);
        return j;
    }

    // The page to keep comes first.
    static bool keep_before(const Judged& a, const Judged& b) {
        if (a.owner_ok != b.owner_ok) return a.owner_ok;
        if (a.index.matching != b.index.matching) return a.index.matching > b.index.matching;
        if (a.index.not_matching != b.index.not_matching) return a.index.not_matching < b.index.not_matching;
        return a.c->page < b.c->page;
    }

    // Rows that are really there twice: two tables holding the same rows each on a page
    // of their own (the owner fields agree with the maps), or a table whose indexes point
    // at the rows of both pages with their keys.
    static bool genuine(const Judged& kept, const Judged& copy) {
        if (copy.owner_ok && copy.c->listed_by != kept.c->listed_by) return true;
        return copy.owner_ok && copy.index.matching > 0 && copy.index.not_matching == 0;
    }

    static std::string evidence(const Judged& kept, const Judged& copy) {
        if (kept.owner_ok && !copy.owner_ok)
            return copy.c->listed_by == 0 ? "ningún mapa de tablas la incluye"
                                          : "su cabecera la atribuye a otra tabla que la que la incluye en su mapa";
        if (kept.index.matching != copy.index.matching || kept.index.not_matching != copy.index.not_matching)
            return "los índices de la tabla apuntan a sus filas con claves que no son las de las filas copiadas";
        return "nada distingue las dos páginas; se conserva la de número más bajo";
    }

    // Rows the copy held: the index entries into it; else, when the copy shares its table,
    // the stored row count beyond the rows of the table's other pages.
    std::optional<uint32_t> lost_rows(const Judged& copy) {
        if (copy.index.indexed) return copy.index.rows_pointed;
        if (copy.c->listed_by == 0) return std::nullopt;
        const TableDefResult& read = db_.table_def(copy.c->listed_by);
        if (!read.table) return std::nullopt;
        const auto pages = mapped_data_pages(db_.file(), db_.layout(), *read.table);
        if (!pages) return std::nullopt;
        std::vector<uint32_t> others;
        for (uint32_t p : *pages)
            if (p != copy.c->page) others.push_back(p);
        const uint32_t live = live_rows(others);
        if (read.table->num_rows < live) return std::nullopt;
        return read.table->num_rows - live;
    }

    uint32_t live_rows(const std::vector<uint32_t>& pages) const {
        uint32_t rows = 0;
        for (uint32_t p : pages) {
            const PageRef bytes = db_.file().fetch(p);
            const DataPage page(bytes, db_.layout());
            for (uint16_t i = 0; i < page.row_count(); ++i)
                if (const RowSlot s = page.slot(i); !s.deleted() && s.bounds_ok) ++rows;
        }
        return rows;
    }

    void judge(const std::vector<const Candidate*>& group, std::vector<PageCopy>& out) {
        std::vector<Judged> all;
        for (const Candidate* c : group) all.push_back(judged(*c));
        std::sort(all.begin(), all.end(), keep_before);
        const Judged& kept = all.front();
        for (size_t i = 1; i < all.size(); ++i) {
            const Judged& copy = all[i];
            if (genuine(kept, copy) || !same_rows(db_.file(), db_.layout(), kept.c->page, copy.c->page)) continue;
            PageCopy found;
            found.copy = copy.c->page;
            found.original = kept.c->page;
            found.listed_by = copy.c->listed_by;
            found.rows_owner = copy.c->owner;
            found.copied_rows = copy.c->rows;
            found.lost_rows = lost_rows(copy);
            found.evidence = evidence(kept, copy);
            out.push_back(std::move(found));
        }
    }

    Database& db_;
    std::vector<Candidate> candidates_;
    std::map<uint32_t, std::unique_ptr<TableIndexes>> indexes_;
};

}  // namespace

std::vector<uint32_t> tables_compared(const Catalog& catalog) {
    std::set<uint32_t> pages;
    for (const CatalogEntry& e : catalog.entries)
        if (e.type == object_type::table && e.tdef_page() != kCatalogPage) pages.insert(e.tdef_page());
    return {pages.begin(), pages.end()};
}

std::vector<PageCopy> find_page_copies(Database& db, const std::vector<uint32_t>& tables,
                                       const std::vector<uint32_t>& also) {
    return CopyFinder(db).find(tables, also);
}

}  // namespace jet
