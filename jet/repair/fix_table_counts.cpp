// TDEF_ROWCOUNT_STALE and TDEF_AUTONUMBER_STALE: after a crash the row count and the last
// autonumber stored in a table definition can lag behind the rows. Both are recounted
// from the rows of the working copy and written back into the first TDEF page.
#include <optional>
#include <set>

#include "jet/check/check.h"
#include "jet/format/database.h"
#include "jet/repair/repair.h"
#include "jet/format/table_pages.h"

namespace jet {

namespace {

struct TableCount {
    uint32_t tdef_page = 0;
    uint32_t rows = 0;
    std::optional<int32_t> max_autonumber;
};

std::optional<std::size_t> autonumber_column(const TableDef& table) {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const Column& c = table.columns[i];
        if (c.type == data_type::long_integer && (c.flags & column_flag::auto_long)) return i;
    }
    return std::nullopt;
}

// Counted as the check counts: every live slot of the pages the owned map lists (a row
// that does not decode still counts), the autonumber from the rows that do. A table whose
// map cannot be read is left alone.
std::optional<TableCount> count_table(const PageFile& file, const Layout& layout, const TableDef& table) {
    const auto pages = mapped_data_pages(file, layout, table);
    if (!pages) return std::nullopt;
    TableCount count{table.page};
    const auto autonumber = autonumber_column(table);
    for (uint32_t p : *pages) {
        const PageRef page_bytes = file.fetch(p);
        const DataPage page(page_bytes, layout);
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot slot = page.slot(i);
            if (slot.deleted() || !slot.bounds_ok) continue;
            ++count.rows;
            if (!autonumber) continue;
            const CrackedRow row = crack_row(table, layout, locate_row(file, page, table.page, i));
            if (!row.usable || *autonumber >= row.fields.size()) continue;
            const Field& field = row.fields[*autonumber];
            if (!field.present || field.bytes.size() != 4) continue;
            const auto value = static_cast<int32_t>(u32_at(field.bytes, 0));
            count.max_autonumber = std::max(count.max_autonumber.value_or(value), value);
        }
    }
    return count;
}

// `only`: the definition pages of the tables the findings name; empty for every table.
std::vector<TableCount> count_tables(Database& db, const std::set<uint32_t>& only) {
    std::vector<TableCount> counts;
    auto wanted = [&](uint32_t tdef_page) { return only.empty() || only.count(tdef_page) > 0; };
    std::set<uint32_t> pages;
    for (const CatalogTable& t : every_table(db.catalog(), db.file().page_count()))
        if (wanted(t.tdef_page)) pages.insert(t.tdef_page);
    for (uint32_t tdef_page : pages) {
        const TableDefResult& def = db.table_def(tdef_page);
        if (!def.table || !def.table->complete) continue;
        if (auto count = count_table(db.file(), db.layout(), *def.table)) counts.push_back(*count);
    }
    return counts;
}

void fix_counts(FixContext& context, std::span<const Finding> findings, bool rows, bool autonumbers) {
    const Layout& layout = *context.header().layout;
    std::set<uint32_t> only;
    for (const Finding& f : findings) {
        // Past the check's limit per problem the findings are summed up in one on the file.
        if (!f.location.definition_page) {
            only.clear();
            break;
        }
        only.insert(*f.location.definition_page);
    }
    for (const TableCount& count : count_tables(context.database(), only)) {
        std::vector<uint8_t> page = context.read_page(count.tdef_page);
        if (page.size() < layout.tdef_autonumber + 4 || page[0] != page_type::table_def) continue;
        if (rows) put_u32(page, layout.tdef_num_rows, count.rows);
        // Only ever raised: a seed above the largest value is what Access leaves after deletions.
        // Signed, as the check reads it: a seed gone negative is below every value.
        if (autonumbers && count.max_autonumber && *count.max_autonumber > 0 &&
            static_cast<int32_t>(u32_at(Bytes(page), layout.tdef_autonumber)) < *count.max_autonumber)
            put_u32(page, layout.tdef_autonumber, static_cast<uint32_t>(*count.max_autonumber));
        context.write_page(count.tdef_page, page);
    }
}

}  // namespace

// Called with no findings by fixes that changed rows: then every table is recounted.
void fix_row_counts(FixContext& context, std::span<const Finding> findings) {
    // Answering the check: the rows a stray write flagged deleted first. A fix that has just
    // dropped rows on purpose calls this with no findings, and its rows stay dropped.
    if (!findings.empty()) fix_deleted_rows(context, {});
    fix_counts(context, findings, true, false);
}

void fix_autonumber_seeds(FixContext& context, std::span<const Finding> findings) {
    fix_counts(context, findings, false, true);
}

}  // namespace jet
