#include "page_copy_damage.h"

#include <algorithm>

#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/index/unique_keys.h"

namespace damage {
namespace {

struct TablePages {
    std::string name;
    bool unique = false;  // has a unique index
    std::vector<std::pair<uint32_t, std::size_t>> pages;  // data pages with live rows, and their rows
};

std::size_t live_rows(const jet::DataPage& page) {
    std::size_t n = 0;
    for (uint16_t i = 0; i < page.row_count(); ++i)
        if (const jet::RowSlot s = page.slot(i); !s.deleted() && s.bounds_ok) ++n;
    return n;
}

std::vector<TablePages> user_tables_with_rows(jet::Database& db) {
    std::vector<TablePages> out;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete) continue;
        TablePages t{e.name, false, {}};
        for (size_t i = 0; i < def.table->real_indexes.size(); ++i) t.unique |= jet::unique_real_index(*def.table, i);
        jet::Faults faults;
        for (uint32_t p : db.data_pages(*def.table, e.name, faults)) {
            const jet::DataPage page(db.file().page(p), db.layout());
            if (const std::size_t n = live_rows(page)) t.pages.emplace_back(p, n);
        }
        if (!t.pages.empty()) out.push_back(std::move(t));
    }
    return out;
}

// The higher of a table's first two pages written over the lower: the copy then has the
// lower number, so keeping the lower page alone would keep the copy. A table without a
// unique index first, where one has two pages.
std::optional<PageCopyDamage> within_table(const std::vector<TablePages>& tables, bool unique) {
    const TablePages* chosen = nullptr;
    for (const TablePages& t : tables) {
        if (t.pages.size() < 2 || (unique && !t.unique)) continue;
        if (!chosen || (chosen->unique && !t.unique)) chosen = &t;
    }
    if (!chosen) return std::nullopt;
    const TablePages& t = *chosen;
    return PageCopyDamage{t.name, t.name, t.pages[1].first, t.pages[0].first, t.pages[0].second, t.pages[1].second};
}

// The first page of one table over the last page of the next table that has rows.
std::optional<PageCopyDamage> across_tables(const std::vector<TablePages>& tables) {
    if (tables.size() < 2) return std::nullopt;
    const TablePages& from = tables[0];
    const TablePages& to = tables[1];
    return PageCopyDamage{to.name, from.name, from.pages.front().first, to.pages.back().first,
                          to.pages.back().second, from.pages.front().second};
}

}  // namespace

const char* copy_kind_name(CopyKind kind) {
    switch (kind) {
    case CopyKind::SameTable: return "same_table";
    case CopyKind::OtherTable: return "other_table";
    case CopyKind::UniqueKey: return "unique_key";
    }
    return "?";
}

std::vector<CopyKind> all_copy_kinds() { return {CopyKind::SameTable, CopyKind::OtherTable, CopyKind::UniqueKey}; }

std::optional<PageCopyDamage> apply_page_copy(const std::filesystem::path& intact, std::vector<uint8_t>& bytes,
                                              CopyKind kind) {
    std::optional<PageCopyDamage> hit;
    std::size_t page_size = 0;
    {
        jet::Database db(intact);
        page_size = db.layout().page_size;
        const std::vector<TablePages> tables = user_tables_with_rows(db);
        hit = kind == CopyKind::OtherTable ? across_tables(tables) : within_table(tables, kind == CopyKind::UniqueKey);
    }
    if (!hit || (uint64_t(std::max(hit->source, hit->target)) + 1) * page_size > bytes.size()) return std::nullopt;
    std::copy_n(bytes.begin() + std::ptrdiff_t(uint64_t(hit->source) * page_size), page_size,
                bytes.begin() + std::ptrdiff_t(uint64_t(hit->target) * page_size));
    return hit;
}

}  // namespace damage
