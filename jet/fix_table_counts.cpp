// TDEF_ROWCOUNT_STALE and TDEF_AUTONUMBER_STALE: after a crash the row count and the last
// autonumber stored in a table definition can lag behind the rows. Both are recounted
// from the rows of the working copy and written back into the first TDEF page. A table
// whose rows do not all decode is left alone: its count cannot be trusted either way, and
// the re-check will report it.
#include <optional>

#include "jet/database.h"
#include "jet/repair.h"

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

std::vector<TableCount> count_tables(const std::filesystem::path& copy) {
    Database db(copy);
    std::vector<TableCount> counts;
    for (const CatalogEntry& entry : db.catalog().entries) {
        if (entry.type != object_type::table || entry.linked()) continue;
        const TableDefResult& def = db.table_def(entry.tdef_page());
        if (!def.table || !def.table->complete) continue;
        const TableDef& table = *def.table;
        TableCount count{entry.tdef_page()};
        const auto autonumber = autonumber_column(table);
        Faults faults;
        db.scan_rows(table, entry.name, [&](const RowLocation&, std::vector<Value>&& values) {
            ++count.rows;
            if (!autonumber || *autonumber >= values.size()) return;
            if (const auto* v = std::get_if<int32_t>(&values[*autonumber]))
                count.max_autonumber = std::max(count.max_autonumber.value_or(*v), *v);
        }, faults);
        if (faults.empty()) counts.push_back(count);
    }
    return counts;
}

uint32_t u32_at(const std::vector<uint8_t>& page, std::size_t at) {
    return uint32_t(page[at]) | uint32_t(page[at + 1]) << 8 | uint32_t(page[at + 2]) << 16 | uint32_t(page[at + 3]) << 24;
}

void put_u32(std::vector<uint8_t>& page, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) page[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void fix_counts(FixContext& context, bool rows, bool autonumbers) {
    const Layout& layout = *context.header().layout;
    for (const TableCount& count : count_tables(context.copy_path())) {
        std::vector<uint8_t> page = context.read_page(count.tdef_page);
        if (page.size() < layout.tdef_autonumber + 4 || page[0] != page_type::table_def) continue;
        if (rows) put_u32(page, layout.tdef_num_rows, count.rows);
        // Only ever raised: a seed above the largest value is what Access leaves after deletions.
        if (autonumbers && count.max_autonumber && *count.max_autonumber > 0 &&
            u32_at(page, layout.tdef_autonumber) < static_cast<uint32_t>(*count.max_autonumber))
            put_u32(page, layout.tdef_autonumber, static_cast<uint32_t>(*count.max_autonumber));
        context.write_page(count.tdef_page, page);
    }
}

}  // namespace

void fix_row_counts(FixContext& context, std::span<const Finding>) { fix_counts(context, true, false); }

void fix_autonumber_seeds(FixContext& context, std::span<const Finding>) { fix_counts(context, false, true); }

}  // namespace jet
