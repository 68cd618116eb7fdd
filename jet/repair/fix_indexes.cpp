#include "jet/repair/fix_indexes.h"

#include <algorithm>
#include <optional>

#include "jet/format/catalog.h"
#include "jet/index/index_verify.h"

namespace jet {
namespace {

struct NamedTable {
    std::string name;
    uint32_t tdef_page;
};

std::vector<NamedTable> tables_of(Database& db) {
    std::vector<NamedTable> out;
    for (const CatalogEntry& e : db.catalog().entries)
        if (e.type == object_type::table) out.push_back({e.name, e.tdef_page()});
    // The catalog's own indexes, also when the row naming it is lost.
    if (std::none_of(out.begin(), out.end(), [](const NamedTable& t) { return t.tdef_page == kCatalogPage; }))
        out.push_back({"MSysObjects", kCatalogPage});
    return out;
}

void raise_failures(const std::vector<IndexRebuildResult>& results) {
    for (const IndexRebuildResult& r : results)
        if (!r.rebuilt) throw EngineError(r.failure);
}

// Rebuilds the chosen indexes of one table.
std::vector<IndexRebuildResult> rebuild_in_copy(FixContext& context, uint32_t tdef_page,
                                                std::optional<std::vector<size_t>> which) {
    Database& db = context.database();
    std::string name = "página " + std::to_string(tdef_page);
    for (const NamedTable& t : tables_of(db))
        if (t.tdef_page == tdef_page) name = t.name;
    const TableDefResult& def = db.table_def(tdef_page);
    if (!def.table || !def.table->complete)
        throw EngineError("No se pueden reconstruir los índices de la tabla «" + name +
                          "»: su definición no se puede leer.");
    if (!which) {
        which.emplace();
        for (size_t i = 0; i < def.table->real_indexes.size(); ++i) which->push_back(i);
    }
    PageStore& store = context;
    // Keys of a large table are sorted in runs beside the working copy, where the repair
    // already has room for a whole file, named after it so that nobody wonders whose it is.
    KeySortLimits limits;
    limits.scratch = context.copy_path();
    limits.scratch += ".claves";
    return rebuild_table_indexes(db, store, *def.table, name, *which, limits);
}

}  // namespace

std::vector<IndexRebuildResult> rebuild_table_indexes(FixContext& context, uint32_t tdef_page) {
    std::vector<IndexRebuildResult> results = rebuild_in_copy(context, tdef_page, std::nullopt);
    raise_failures(results);
    return results;
}

void fix_unique_duplicates(FixContext& context, std::span<const Finding>) {
    const std::vector<uint32_t> thinned = drop_duplicate_key_rows(context);
    if (thinned.empty()) return;
    fix_row_counts(context, {});
    for (uint32_t tdef_page : thinned) rebuild_table_indexes(context, tdef_page);
}

void fix_rebuild_indexes(FixContext& context, std::span<const Finding>) {
    std::vector<std::pair<uint32_t, std::vector<size_t>>> wrong;
    {
        Database& db = context.database();
        for (const NamedTable& t : tables_of(db)) {
            const TableDefResult& def = db.table_def(t.tdef_page);
            if (!def.table || !def.table->complete) continue;
            Faults faults;
            std::vector<size_t> bad;
            for (const IndexVerdict& v : verify_table_indexes(db, *def.table, t.name, !def.table->columns.empty(), faults))
                if (!v.sound()) bad.push_back(v.real_index);
            if (!bad.empty()) wrong.emplace_back(t.tdef_page, std::move(bad));
        }
    }
    for (auto& [tdef_page, which] : wrong) raise_failures(rebuild_in_copy(context, tdef_page, which));
}

}  // namespace jet
