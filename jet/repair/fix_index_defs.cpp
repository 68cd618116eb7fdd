// TDEF_INDEX_COLUMN, TDEF_LOGICAL_INDEX: an index definition naming a column the table
// does not have, or a logical index naming a real index that does not exist. A damaged
// column number is named again when the index's entries or its name tell which column it
// was (index_column_evidence.h). Otherwise the rows do not depend on an index, so such an
// index leaves the definition: its logical entry and
// name, and its real index when no remaining logical index uses it (count entry,
// descriptor, pages flagged free). A single dangling logical index facing a single real
// index no logical index uses is pointed back at it instead: that pairing is the only one
// the definition allows. The definition's old bytes go to the recovery file first.
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "jet/base/bytes.h"
#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/fix_table_def.h"
#include "jet/index/index_column_evidence.h"
#include "jet/repair/repair.h"
#include "jet/format/table_def_sections.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr uint32_t kGlobalMap = (1u << 8) | 0u;  // page 1, row 0

std::vector<CatalogTable> table_defs(FixContext& context) {
    Database& db = context.database();
    return every_table(db.catalog(), context.page_count());
}

// Real indexes naming a column the table does not have.
std::set<size_t> real_indexes_without_columns(const TableDef& t) {
    std::set<size_t> out;
    for (size_t i = 0; i < t.real_indexes.size(); ++i)
        for (const IndexColumn& c : t.real_indexes[i].columns)
            if (c.number != 0xFFFF && !t.column_by_number(c.number)) out.insert(i);
    return out;
}

struct IndexPlan {
    std::set<size_t> drop_real;
    std::set<size_t> drop_logical;
    std::map<size_t, std::array<IndexColumn, 10>> columns;  // real indexes whose column is named again
    std::vector<uint32_t> real_number;  // per logical index, as it will be stored
    bool changed() const { return !drop_real.empty() || !drop_logical.empty() || !columns.empty(); }
};

using Rederive = std::function<std::optional<std::array<IndexColumn, 10>>(size_t real)>;

IndexPlan plan_for(const TableDef& t, const Rederive& rederive) {
    IndexPlan plan;
    for (size_t r : real_indexes_without_columns(t)) {
        if (auto columns = rederive(r))
            plan.columns[r] = *columns;
        else
            plan.drop_real.insert(r);
    }
    for (const LogicalIndex& li : t.logical_indexes) plan.real_number.push_back(li.real_number);
    std::vector<size_t> dangling;
    std::set<size_t> used;
    for (size_t i = 0; i < t.logical_indexes.size(); ++i) {
        const uint32_t real = t.logical_indexes[i].real_number;
        if (real >= t.real_indexes.size())
            dangling.push_back(i);
        else if (plan.drop_real.count(real))
            plan.drop_logical.insert(i);
        else
            used.insert(real);
    }
    std::vector<size_t> unused;
    for (size_t r = 0; r < t.real_indexes.size(); ++r)
        if (!used.count(r) && !plan.drop_real.count(r)) unused.push_back(r);
    if (dangling.size() == 1 && unused.size() == 1) {
        plan.real_number[dangling[0]] = uint32_t(unused[0]);
        plan.drop_logical.erase(dangling[0]);
        return plan;
    }
    for (size_t i : dangling) plan.drop_logical.insert(i);
    return plan;
}

// The definition's buffer without the planned entries; real numbers remapped.
std::vector<uint8_t> rewritten(const TableDef& t, const TableDefSections& s, const IndexPlan& plan, const Layout& l) {
    const std::vector<uint8_t>& b = t.buffer;
    std::vector<uint32_t> new_real(t.real_indexes.size(), 0);
    for (uint32_t r = 0, kept = 0; r < t.real_indexes.size(); ++r)
        if (!plan.drop_real.count(r)) new_real[r] = kept++;
    auto copy = [&](std::vector<uint8_t>& out, size_t begin, size_t end) {
        out.insert(out.end(), b.begin() + std::ptrdiff_t(begin), b.begin() + std::ptrdiff_t(end));
    };
    std::vector<uint8_t> out;
    copy(out, 0, s.count_entries);
    for (size_t r = 0; r < t.real_indexes.size(); ++r)
        if (!plan.drop_real.count(r))
            copy(out, s.count_entries + r * l.real_index_count_entry_size,
                 s.count_entries + (r + 1) * l.real_index_count_entry_size);
    copy(out, s.columns, s.real_indexes);
    for (size_t r = 0; r < t.real_indexes.size(); ++r) {
        if (plan.drop_real.count(r)) continue;
        const size_t at = out.size();
        copy(out, s.real_indexes + r * l.real_index_size, s.real_indexes + (r + 1) * l.real_index_size);
        if (const auto named = plan.columns.find(r); named != plan.columns.end())
            for (size_t k = 0; k < named->second.size(); ++k)
                put_u16(out, at + l.ri_columns + 3 * k, named->second[k].number);
    }
    for (size_t i = 0; i < t.logical_indexes.size(); ++i) {
        if (plan.drop_logical.count(i)) continue;
        const size_t at = out.size();
        copy(out, s.logical_indexes + i * l.logical_index_size, s.logical_indexes + (i + 1) * l.logical_index_size);
        put_u32(out, at + l.li_real_number, new_real[plan.real_number[i]]);
    }
    for (size_t i = 0; i < t.logical_indexes.size(); ++i)
        if (!plan.drop_logical.count(i)) copy(out, s.logical_names[i], s.logical_names[i + 1]);
    copy(out, s.logical_names.back(), t.tdef_len);
    put_u32(out, 0x08, uint32_t(out.size()));
    put_u32(out, l.tdef_num_real_idx, uint32_t(t.real_indexes.size() - plan.drop_real.size()));
    put_u32(out, l.tdef_num_idx, uint32_t(t.logical_indexes.size() - plan.drop_logical.size()));
    return out;
}

// Pages of the real indexes that go: those their maps list and their roots, when they are
// index pages of the table that no kept index lists too.
std::vector<uint32_t> pages_to_free(FixContext& context, const TableDef& t, const IndexPlan& plan) {
    const Layout& l = *context.header().layout;
    PageStore& store = context;
    std::set<uint32_t> kept, freed;
    for (size_t r = 0; r < t.real_indexes.size(); ++r) {
        const RealIndex& ri = t.real_indexes[r];
        std::set<uint32_t> pages{ri.root_page};
        std::string why;
        if (const auto map = UsageMapEdit::load(store, l, ri.owned_map, why)) {
            const auto listed = map->set_pages(context.page_count());
            pages.insert(listed.begin(), listed.end());
        }
        (plan.drop_real.count(r) ? freed : kept).insert(pages.begin(), pages.end());
    }
    std::vector<uint32_t> out;
    for (uint32_t p : freed) {
        if (kept.count(p) || p < 3 || p >= context.page_count()) continue;
        const std::vector<uint8_t> page = context.read_page(p);
        if ((page[0] == page_type::index_leaf || page[0] == page_type::index_node) && u32_at(page, 4) == t.page)
            out.push_back(p);
    }
    return out;
}

void save_old_definition(FixContext& context, const CatalogTable& table, const TableDef& t, const IndexPlan& plan) {
    RecoveredItem item;
    item.table = table.name;
    item.page = table.tdef_page;
    std::string names;
    for (size_t i : plan.drop_logical) names += (names.empty() ? "«" : ", «") + t.logical_indexes[i].name + "»";
    item.reason = "definición de la tabla antes de corregir o retirar índices que no se pueden usar" +
                  (names.empty() ? std::string() : " (" + names + ")") + "; bytes de la definición completa";
    item.raw.assign(t.buffer.begin(), t.buffer.begin() + std::ptrdiff_t(std::min<size_t>(t.tdef_len, t.buffer.size())));
    context.save_dropped(item);
}

void free_pages(FixContext& context, const std::vector<uint32_t>& pages) {
    if (pages.empty()) return;
    PageStore& store = context;
    std::string why;
    std::optional<UsageMapEdit> global = UsageMapEdit::load(store, *context.header().layout, kGlobalMap, why);
    if (!global) return;
    for (uint32_t p : pages) global->set(p, true);
    global->save(store);
}

bool fix_one(FixContext& context, const CatalogTable& table, uint16_t code_page) {
    const Layout& l = *context.header().layout;
    const PageFile& file = context.pages();
    const TableDefResult read = read_table_def(file, l, table.tdef_page, code_page);
    if (!read.table || !read.table->complete || read.table->parsed_length != read.table->tdef_len) return false;
    const TableDef& t = *read.table;
    const IndexPlan plan = plan_for(t, [&](size_t real) {
        return rederived_index_columns(context.database(), t, table.name, real);
    });
    const bool repointed = plan.real_number.size() == t.logical_indexes.size() &&
                           !std::equal(plan.real_number.begin(), plan.real_number.end(), t.logical_indexes.begin(),
                                       [](uint32_t r, const LogicalIndex& li) { return r == li.real_number; });
    if (!plan.changed() && !repointed) return false;
    const std::optional<TableDefSections> sections = table_def_sections(t, l);
    if (!sections) return false;
    const std::vector<uint8_t> buffer = rewritten(t, *sections, plan, l);
    if (!sound_definition(parse_table_def(buffer, l, code_page), uint32_t(buffer.size()))) return false;
    const std::vector<uint32_t> freed = pages_to_free(context, t, plan);
    save_old_definition(context, table, t, plan);
    write_table_def(context, t, buffer);
    free_pages(context, freed);
    return true;
}

}  // namespace

void fix_index_definitions(FixContext& context, std::span<const Finding> findings) {
    fix_table_def_counts(context, findings);
    const uint16_t code_page = context.database().decode_context().code_page;
    for (const CatalogTable& table : table_defs(context)) fix_one(context, table, code_page);
}

}  // namespace jet
