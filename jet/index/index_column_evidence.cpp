#include "jet/index/index_column_evidence.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "jet/index/index_verify.h"

namespace jet {
namespace {

std::string folded(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The index's name spells its columns' names one after the other (ACE's newer system
// tables put "Idx" before them: "IdxFlatTableID").
bool named_after(const TableDef& table, const std::array<IndexColumn, 10>& columns, size_t real) {
    std::string spelled;
    for (const IndexColumn& c : columns) {
        if (c.number == 0xFFFF) break;
        const Column* column = table.column_by_number(c.number);
        if (!column) return false;
        spelled += column->name;
    }
    spelled = folded(spelled);
    for (const LogicalIndex& li : table.logical_indexes)
        if (li.real_number == real && (folded(li.name) == spelled || folded(li.name) == "idx" + spelled)) return true;
    return false;
}

// How well the rows back a column, weakest first. Key bytes that differ only inside a
// text are Access's own work elsewhere, but as evidence they count less than identity.
enum class RowsSay { Reject, Nothing, Tolerated, Identical };

// The index alone, with these columns, against the table's rows.
RowsSay rows_say(Database& db, const TableDef& table, const std::string& table_name, size_t real,
                 const std::array<IndexColumn, 10>& columns) {
    TableDef alone = table;
    alone.real_indexes = {table.real_indexes[real]};
    alone.real_indexes[0].columns = columns;
    alone.logical_indexes.clear();
    Faults faults;
    const std::vector<IndexVerdict> verdicts = verify_table_indexes(db, alone, table_name, true, faults);
    if (verdicts.size() != 1 || !verdicts[0].keys_checked) return RowsSay::Nothing;
    const IndexVerdict& v = verdicts[0];
    if (!v.tree.valid()) return RowsSay::Nothing;
    if (!v.data.sound()) return RowsSay::Reject;
    // An empty table fits any column: no evidence.
    if (v.data.entries_checked == 0) return RowsSay::Nothing;
    return v.data.keys_identical == v.data.entries_checked ? RowsSay::Identical : RowsSay::Tolerated;
}

}  // namespace

std::optional<std::array<IndexColumn, 10>> rederived_index_columns(Database& db, const TableDef& table,
                                                                   const std::string& table_name, size_t real) {
    if (real >= table.real_indexes.size()) return std::nullopt;
    const std::array<IndexColumn, 10>& columns = table.real_indexes[real].columns;
    std::vector<size_t> damaged;
    for (size_t k = 0; k < columns.size(); ++k)
        if (columns[k].number != 0xFFFF && !table.column_by_number(columns[k].number)) damaged.push_back(k);
    if (damaged.size() != 1) return std::nullopt;

    struct Candidate {
        std::array<IndexColumn, 10> columns;
        RowsSay rows;
        bool named;
    };
    std::vector<Candidate> candidates;
    for (const Column& column : table.columns) {
        const bool used = std::any_of(columns.begin(), columns.end(),
                                      [&](const IndexColumn& c) { return c.number == column.number; });
        if (used || column.long_value()) continue;
        Candidate c{columns, RowsSay::Nothing, false};
        c.columns[damaged[0]].number = column.number;
        c.rows = rows_say(db, table, table_name, real, c.columns);
        c.named = named_after(table, c.columns, real);
        if (c.rows != RowsSay::Reject) candidates.push_back(c);
    }
    // The rows decide when they can (the columns they back best); the name settles a tie
    // among those, or speaks alone where the rows say nothing (an empty table).
    RowsSay best = RowsSay::Nothing;
    for (const Candidate& c : candidates) best = std::max(best, c.rows);
    auto only = [&](bool named) -> std::optional<std::array<IndexColumn, 10>> {
        auto pick = [&](const Candidate& c) { return c.rows == best && (!named || c.named); };
        if (std::count_if(candidates.begin(), candidates.end(), pick) != 1) return std::nullopt;
        return std::find_if(candidates.begin(), candidates.end(), pick)->columns;
    };
    if (auto named = only(true)) return named;
    if (best == RowsSay::Nothing) return std::nullopt;
    return only(false);
}

}  // namespace jet
