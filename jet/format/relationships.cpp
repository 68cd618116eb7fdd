#include "jet/format/relationships.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>

#include "jet/base/value.h"

namespace jet {
namespace {

const char kRelationshipsTable[] = "MSysRelationships";

struct PairRow {
    int32_t order = 0;
    std::string column;
    std::string referenced_column;
};

const Value* named(const TableDef& def, const std::vector<Value>& values, std::string_view name) {
    for (size_t i = 0; i < def.columns.size() && i < values.size(); ++i)
        if (same_name(def.columns[i].name, name)) return &values[i];
    return nullptr;
}

std::string text_of(const Value* v) {
    if (!v) return {};
    if (const auto* s = std::get_if<std::string>(v)) return *s;
    return {};
}

int32_t number_of(const Value* v) {
    if (!v) return 0;
    if (const auto* n = std::get_if<int32_t>(v)) return *n;
    if (const auto* n = std::get_if<int16_t>(v)) return *n;
    return 0;
}

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) { return folded(a) == folded(b); }

std::vector<Relationship> read_relationships(Database& db) {
    const Catalog& catalog = db.catalog();
    const CatalogEntry* entry = nullptr;
    for (const CatalogEntry& e : catalog.entries)
        if (e.type == object_type::table && same_name(e.name, kRelationshipsTable)) entry = &e;
    if (!entry) return {};
    const TableDefResult& def = db.table_def(entry->tdef_page());
    if (!def.table || !def.table->complete || def.table->columns.empty()) return {};
    const TableDef& t = *def.table;

    // Keyed by name and both tables: one relationship per such triple, pairs in order.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<PairRow>> grouped;
    std::vector<std::tuple<std::string, std::string, std::string>> order;
    Faults faults;
    db.scan_rows(t, kRelationshipsTable, [&](const RowLocation&, std::vector<Value>&& values) {
        std::tuple<std::string, std::string, std::string> key{text_of(named(t, values, "szRelationship")),
                                                              text_of(named(t, values, "szObject")),
                                                              text_of(named(t, values, "szReferencedObject"))};
        PairRow pair{number_of(named(t, values, "icolumn")), text_of(named(t, values, "szColumn")),
                     text_of(named(t, values, "szReferencedColumn"))};
        if (std::get<1>(key).empty() || std::get<2>(key).empty() || pair.column.empty() ||
            pair.referenced_column.empty())
            return;
        auto [it, added] = grouped.try_emplace(key);
        if (added) order.push_back(key);
        it->second.push_back(std::move(pair));
    }, faults);

    std::vector<Relationship> out;
    for (const auto& key : order) {
        std::vector<PairRow>& pairs = grouped[key];
        std::stable_sort(pairs.begin(), pairs.end(), [](const PairRow& a, const PairRow& b) { return a.order < b.order; });
        Relationship r{std::get<0>(key), std::get<1>(key), std::get<2>(key), {}, {}};
        for (const PairRow& p : pairs) {
            r.columns.push_back(p.column);
            r.referenced_columns.push_back(p.referenced_column);
        }
        out.push_back(std::move(r));
    }
    return out;
}

ReferenceKey reference_key(const std::vector<Value>& values, const std::vector<size_t>& columns) {
    ReferenceKey key;
    for (size_t c : columns) {
        if (c >= values.size() || is_null(values[c])) return {};
        key.push_back(std::holds_alternative<std::string>(values[c]) ? folded(std::get<std::string>(values[c]))
                                                                      : recovered_value_text(values[c]));
    }
    return key;
}

std::vector<size_t> column_positions(const TableDef& table, const std::vector<std::string>& names) {
    std::vector<size_t> out;
    for (const std::string& name : names) {
        auto it = std::find_if(table.columns.begin(), table.columns.end(),
                               [&](const Column& c) { return same_name(c.name, name); });
        if (it == table.columns.end()) return {};
        out.push_back(static_cast<size_t>(it - table.columns.begin()));
    }
    return out;
}

std::vector<IncomingReferences> incoming_references(Database& db, const std::vector<Relationship>& relationships,
                                                    const TableDef& table, const std::string& table_name) {
    std::vector<IncomingReferences> out;
    for (const Relationship& r : relationships) {
        if (!same_name(r.referenced_table, table_name)) continue;
        IncomingReferences in;
        in.columns = column_positions(table, r.referenced_columns);
        if (in.columns.empty()) continue;
        const CatalogEntry* from = nullptr;
        for (const CatalogEntry& e : db.catalog().entries)
            if (e.type == object_type::table && same_name(e.name, r.table)) from = &e;
        if (!from) continue;
        const TableDefResult& def = db.table_def(from->tdef_page());
        if (!def.table || !def.table->complete || def.table->columns.empty()) continue;
        const std::vector<size_t> referencing = column_positions(*def.table, r.columns);
        if (referencing.empty()) continue;
        Faults faults;
        db.scan_rows(*def.table, from->name, [&](const RowLocation&, std::vector<Value>&& values) {
            ReferenceKey key = reference_key(values, referencing);
            if (!key.empty()) in.keys.insert(std::move(key));
        }, faults);
        out.push_back(std::move(in));
    }
    return out;
}

}  // namespace jet
