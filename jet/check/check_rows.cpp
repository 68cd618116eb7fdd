// Pass 4: every data page a table's map lists, every live row on it, and every long
// value those rows hold. Rows are streamed page by page; nothing per row is kept except
// overflow targets (to catch two rows sharing one). At the end of each table the stored
// row count and autonumber are compared with what the rows say.
#include <algorithm>
#include <set>

#include "jet/base/bytes.h"
#include "jet/check/check_maps.h"
#include "jet/format/catalog.h"
#include "jet/check/check_memo.h"
#include "jet/check/check_passes.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_header.h"
#include "jet/check/deleted_rows.h"
#include "jet/format/calculated.h"
#include "jet/format/column_properties.h"
#include "jet/format/long_value.h"
#include "jet/format/row.h"

namespace jet {
namespace {

// Walks one table and notes what it finds in `out`, to be reported by the caller: the
// walks of several tables run side by side.
struct TableWalk {
    const PageFile& file;
    const Layout& layout;
    uint16_t code_page;
    const CheckedTable& t;
    const TableDef& d;
    RowsVerdict& out;
    std::set<uint32_t> overflow_targets;  // (page << 8) | row
    CrackedRow cracked;                   // the row being checked, storage reused

    void add(Problem p, Location where, std::initializer_list<std::string_view> args) {
        out.events.push_back({.problem = p, .finding = std::make_unique<const Finding>(make_finding(p, std::move(where), args))});
    }
    void claim(uint32_t page, Claim kind, uint32_t owner) {
        out.events.push_back({.page = page, .owner = owner, .claim = kind});
    }

    Location at(uint32_t page, int row) const { return object::table_row(t.name, page, row); }
    std::string row_text(uint32_t page, int row) const {
        return std::to_string(row) + " de la página " + std::to_string(page);
    }

    void page_faults(const Faults& faults, uint32_t page) {
        for (const Fault& f : faults) {
            switch (f.kind) {
            case FaultKind::DataPageRowBounds:
                add(Problem::RowOffsetBounds, at(page, f.row), {std::to_string(f.row), f.detail});
                break;
            case FaultKind::DataPageRowOrder:
                add(Problem::RowOffsetOverlap, at(page, f.row), {std::to_string(f.row), f.detail});
                break;
            case FaultKind::DataPageFreeSpace: {
                const PageRef dp_bytes = file.fetch(page);
                DataPage dp(dp_bytes, layout);
                const int64_t real = dp.real_free_space();
                add(Problem::DpageFreeSpace, object::table_page(t.name, page),
                             {std::to_string(dp.free_space()), std::to_string(real)});
                break;
            }
            default:
                add(Problem::DpageHeader, object::table_page(t.name, page), {f.detail});
                break;
            }
        }
    }

    void row_faults(const Faults& faults, uint32_t page, int row, const std::string& column) {
        for (const Fault& f : faults) {
            const Location where = at(page, row);
            const std::string r = row_text(page, row);
            switch (f.kind) {
            case FaultKind::RowColumnCount:
                add(Problem::RowLayout, where, {r, f.detail});
                break;
            case FaultKind::RowFieldLength:
                add(Problem::RowValueLength, where, {r, column.empty() ? "?" : column, f.detail});
                break;
            case FaultKind::LongValueKind:
                add(Problem::LvDefinition, where, {r, column, f.detail});
                break;
            case FaultKind::LongValuePointer:
            case FaultKind::RowSlotMissing:
            case FaultKind::RowSlotDeleted:
            case FaultKind::PageOutOfRange:
            case FaultKind::PageWrongType:
                add(Problem::LvPointer, where,
                             {r, column, "la fila " + std::to_string(f.row) + " de la página " + std::to_string(f.page),
                              f.detail});
                break;
            case FaultKind::LongValueCycle:
                add(Problem::LvChainCycle, where,
                             {r, column, "la fila " + std::to_string(f.row) + " de la página " + std::to_string(f.page)});
                break;
            case FaultKind::LongValueTruncated:
                break;  // reported with both lengths by check_long_value
            case FaultKind::OverflowPointer:
                add(Problem::RowOverflowTarget, where, {r, "otra fila", f.detail});
                break;
            case FaultKind::RowNullPlace:
                add(Problem::RowNullPlace, where, {r, f.detail});
                break;
            default:
                add(Problem::RowLayout, where, {r, f.detail});
                break;
            }
        }
    }

    // The bytes of the logical row at a slot: an overflow header (0x4000) holds a pointer
    // to the real row, which carries the deleted flag (0x8000) so that scans skip it.
    // Empty, with a finding, when the pointer leads nowhere valid.
    Bytes locate(const DataPage& page, uint32_t page_number, uint16_t slot_index) {
        const RowSlot slot = page.slot(slot_index);
        Bytes row = page.row(slot_index);
        if (!slot.overflow()) return row;
        const std::string r = row_text(page_number, slot_index);
        auto fail = [&](const std::string& target, const std::string& why) {
            add(Problem::RowOverflowTarget, at(page_number, slot_index), {r, target, why});
            return Bytes{};
        };
        if (row.size() < 4) return fail("otra fila", "el puntero ocupa menos de 4 bytes");
        const RowPointer to = RowPointer::from_u32(u32_at(row, 0));
        const std::string target = "la fila " + std::to_string(to.row) + " de la página " + std::to_string(to.page);
        const PageRef next_bytes = file.fetch(to.page);
        DataPage next(next_bytes, layout);
        if (to.page == 0 || !next.is_data_page()) return fail(target, "no es una página de datos");
        if (next.owner() != t.tdef_page) return fail(target, "la página pertenece a otra tabla");
        if (to.row >= next.row_count() || !next.slot(to.row).bounds_ok)
            return fail(target, "la fila no existe en esa página");
        const RowSlot target_slot = next.slot(to.row);
        if ((target_slot.raw & (kRowDeleted | kRowOverflow)) != kRowDeleted)
            return fail(target, "la fila de destino no está marcada como contenido desbordado (" +
                                    hex_u16(target_slot.raw & ~kRowOffsetMask) + ")");
        if (!overflow_targets.insert((to.page << 8) | to.row).second) {
            add(Problem::RowOverflowShared, at(page_number, slot_index), {r, "otra fila", target});
            return {};
        }
        return next.row(to.row);
    }

    // The catalog row's object name, for a finding about its properties.
    std::string object_name() {
        const std::string name = catalog_row_name(d, cracked, DecodeContext{&file, &layout, code_page});
        return name.empty() ? "un objeto sin nombre legible" : "«" + name + "»";
    }

    void check_property_blob(Bytes blob, uint32_t page, int row) {
        const PropertyBlob read = read_property_blob(blob);
        if (read.fault.empty()) return;
        add(Problem::LvPropertyBlob, at(page, row), {object_name(), read.fault, property_blob_summary(read)});
    }

    void check_long_value(const Column& c, const Field& field, uint32_t page, int row) {
        auto r = [&] { return row_text(page, row); };  // built only for a finding
        LongValueDefinition def;
        if (!parse_long_value_definition(field.bytes, def)) {
            add(Problem::LvDefinition, at(page, row),
                         {r(), c.name, "ocupa " + std::to_string(field.bytes.size()) + " bytes en lugar de 12"});
            return;
        }
        if (def.kind != kLongValueInline && field.bytes.size() != kLongValueDefinitionSize) {
            add(Problem::LvDefinition, at(page, row),
                         {r(), c.name, "ocupa " + std::to_string(field.bytes.size()) + " bytes en lugar de 12"});
        }
        LongValue lv = read_long_value(file, layout, field.bytes);
        row_faults(lv.faults, page, row, c.name);
        const bool truncated = std::any_of(lv.faults.begin(), lv.faults.end(),
                                           [](const Fault& f) { return f.kind == FaultKind::LongValueTruncated; });
        if (truncated)
            add(Problem::LvLength, at(page, row),
                         {r(), c.name, std::to_string(def.length), std::to_string(lv.data.size())});
        if (lv.complete && lv.faults.empty() && holds_property_blobs(t.tdef_page, c.name)) check_property_blob(lv.data, page, row);
        Bytes result;
        if (c.calculated() && lv.complete && !unwrap_calculated(lv.data, result))
            add(Problem::RowValueLength, at(page, row),
                {r(), c.name, "el valor largo del campo calculado no contiene los datos que declara"});
        auto listed = t.lv_pages.find(c.number);
        for (const RowPointer& p : lv.rows) {
            const PageRef lval_bytes = file.fetch(p.page);
            DataPage lval(lval_bytes, layout);
            if (!lval.is_data_page() || !lval.is_lval()) continue;  // reported as LV_POINTER
            claim(p.page, Claim::LongValue, t.tdef_page);
            if (listed != t.lv_pages.end() && !std::binary_search(listed->second.begin(), listed->second.end(), p.page))
                add(Problem::LvPageUnmapped, object::column(t.name, c.name),
                             {std::to_string(p.page), c.name});
        }
    }

    void check_row(Bytes bytes, uint32_t page, int row) {
        auto r = [&] { return row_text(page, row); };  // built only for a finding
        crack_row_into(d, layout, bytes, cracked);
        for (const Fault& f : cracked.faults) {
            if (f.kind == FaultKind::RowColumnCount)
                add(Problem::RowColumnCount, at(page, row),
                             {r(), std::to_string(cracked.stored_columns), std::to_string(d.max_cols)});
            else
                row_faults({f}, page, row, {});
        }
        if (!cracked.usable) return;
        if (!columns_fit(d, cracked))
            add(Problem::RowColumnCount, at(page, row),
                         {r(), std::to_string(cracked.stored_columns), std::to_string(d.max_cols)});
        if (!var_slots_fit(d, cracked))
            add(Problem::RowLayout, at(page, row),
                         {r(), "tiene " + std::to_string(cracked.var_count) + " posiciones variables y la tabla " +
                                 std::to_string(d.num_var_cols)});
        for (size_t k = 0; k < d.columns.size(); ++k) {
            const Column& c = d.columns[k];
            const Field& field = cracked.fields[k];
            if (!field.present || c.bit_only()) continue;
            if (c.long_value()) {
                check_long_value(c, field, page, row);
                continue;
            }
            if (!c.fixed() && !c.calculated() && (c.type == data_type::text || c.type == data_type::binary) &&
                field.bytes.size() > c.length) {
                add(Problem::RowValueLength, at(page, row),
                             {r(), c.name, std::to_string(field.bytes.size()) + " bytes; máximo " + std::to_string(c.length)});
                continue;
            }
            if (c.calculated()) {
                Faults faults;
                decode_field(c, field, DecodeContext{&file, &layout, code_page}, faults);
                row_faults(faults, page, row, c.name);
            }
            if ((c.flags & column_flag::auto_long) && c.type == data_type::long_integer && field.bytes.size() == 4) {
                const int64_t value = static_cast<int32_t>(u32_at(field.bytes, 0));
                out.max_autonumber = out.has_autonumber ? std::max(out.max_autonumber, value) : value;
                out.has_autonumber = true;
            }
        }
    }

    void check_page(uint32_t page_number) {
        const PageRef page_bytes = file.fetch(page_number);
        DataPage page(page_bytes, layout);
        page_faults(validate_data_page(page, page_number), page_number);
        // Catalog rows are judged by what they say (check_catalog): a hit one is often mended.
        const std::vector<size_t> zeroed =
            t.tdef_page == kCatalogPage ? std::vector<size_t>{} : zeroed_row_sectors(page_bytes, layout);
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const RowSlot slot = page.slot(i);
            if (slot.deleted() || !slot.bounds_ok) continue;  // deleted or overflow target; bounds reported
            ++out.live_rows;
            if (!slot.overflow() && crosses_sector(zeroed, slot.start, slot.end)) {
                add(Problem::RowLayout, at(page_number, i),
                    {row_text(page_number, i), "parte de la fila está a cero: un sector de 512 bytes no llegó al disco"});
                continue;
            }
            Bytes row = locate(page, page_number, i);
            if (!row.empty()) check_row(row, page_number, i);
        }
    }

    void run() {
        for (uint32_t p : t.data_pages) check_page(p);
    }

    // User tables only: Access's own tables keep stale counts as a rule, and a catalog row
    // brought back would bring back an object the user deleted.
    void counted_deleted(Database& db) {
        if (t.system || d.num_rows <= out.live_rows) return;  // nothing counted beyond the live rows
        for (const CountedDeletedRow& r : counted_deleted_rows(db, d, t.data_pages))
            add(Problem::RowDeletedCounted, at(r.row.page, r.row.row),
                {row_text(r.row.page, r.row.row),
                 r.index.empty() ? "el número de filas de la tabla aún la cuenta"
                                 : "el número de filas de la tabla y el índice " + r.index + " aún la cuentan"});
    }
};

RowsVerdict walk_table(Database& db, const CheckedTable& t, std::vector<uint32_t>* read) {
    RowsVerdict out;
    const PageFile::ReadLog log(db.file(), read);
    TableWalk walk{db.file(), db.layout(), db.header().code_page, t, *t.def, out, {}, {}};
    walk.run();
    walk.counted_deleted(db);
    return out;
}

// Reports a table's walk as if it had been made here and now.
void report_walk(CheckContext& ctx, const CheckedTable& t, const RowsVerdict& v) {
    const size_t findings_before = ctx.sink.total();
    replay(ctx, v.events);
    if (ctx.sink.total() != findings_before) return;  // counts are meaningless next to damaged rows
    const TableDef& d = *t.def;
    if (d.num_rows != v.live_rows) {
        Finding stale = make_finding(Problem::TdefRowcountStale, object::table(t.name, t.tdef_page),
                                     {std::to_string(d.num_rows), std::to_string(v.live_rows)});
        // Access leaves the counts of its own tables stale as a rule: a note, put right only
        // when the file is rewritten for another reason.
        if (t.system) stale.severity = Severity::Info;
        ctx.sink.add(Problem::TdefRowcountStale, stale);
    }
    if (v.has_autonumber && int64_t(static_cast<int32_t>(d.autonumber)) < v.max_autonumber)
        ctx.sink.add(Problem::TdefAutonumberStale, object::table(t.name, t.tdef_page),
                     {std::to_string(static_cast<int32_t>(d.autonumber)), std::to_string(v.max_autonumber)});
}

}  // namespace

struct RowsPass::State {
    bool recording = false;
    std::vector<const CheckedTable*> tables;
    std::vector<const CheckMemo::TableRows*> earlier;  // per table: taken over, or walked now
    std::vector<RowsVerdict> walked;
    std::vector<std::vector<uint32_t>> read;
};

RowsPass::RowsPass(CheckContext& ctx, TableJobs& jobs) : ctx_(ctx), state_(std::make_unique<State>()) {
    State& s = *state_;
    s.recording = ctx.memo && ctx.memo->recording();
    for (const CheckedTable& t : ctx.tables) {
        if (!t.def || !t.rows_readable) continue;
        s.tables.push_back(&t);
        s.earlier.push_back(ctx.memo && !s.recording ? ctx.memo->reusable_rows(t, ctx.file.page_count()) : nullptr);
    }
    s.walked.resize(s.tables.size());
    s.read.resize(s.tables.size());
    for (size_t i = 0; i < s.tables.size(); ++i) {
        if (s.earlier[i]) continue;
        jobs.add(*s.tables[i], [this, i] {
            State& st = *state_;
            st.walked[i] = walk_table(ctx_.db, *st.tables[i], st.recording ? &st.read[i] : nullptr);
        });
    }
}

RowsPass::~RowsPass() = default;

void RowsPass::report() {
    State& s = *state_;
    for (size_t i = 0; i < s.tables.size(); ++i) {
        if (s.earlier[i]) {
            report_walk(ctx_, *s.tables[i], s.earlier[i]->verdict);
            continue;
        }
        report_walk(ctx_, *s.tables[i], s.walked[i]);
        if (s.recording)
            ctx_.memo->record(CheckMemo::TableRows{memo_key(*s.tables[i], std::move(s.read[i])), std::move(s.walked[i])},
                              ctx_.file.page_count());
    }
}

void check_rows(CheckContext& ctx) {
    TableJobs jobs;
    RowsPass pass(ctx, jobs);
    jobs.run();
    pass.report();
}

}  // namespace jet
