// The walk behind fix_rows and fix_long_values: for each table, put NULL fields' offsets
// back in order, rebuild the slot tables of its damaged data pages, drop overflow headers
// that lead nowhere (and their targets that do not decode), empty values that
// cannot be right, and cut long values back to the part that reads. Every row or value
// dropped is first written to the recovery file as far as it decodes. A table's pages are
// edited as staged pages and written once its walk ends, so long values read meanwhile come
// from the copy as it was.
#include "jet/repair/fix_rows.h"

#include <map>
#include <set>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_header.h"
#include "jet/format/database.h"
#include "jet/repair/dropped_row.h"
#include "jet/format/fix_data_page.h"
#include "jet/format/calculated.h"
#include "jet/format/column_properties.h"
#include "jet/format/long_value.h"
#include "jet/format/null_field_places.h"
#include "jet/format/row.h"
#include "jet/base/text.h"

namespace jet {

namespace {

// Where the zeros that fill the end of a page begin, when a write was cut short there: a
// run of at least one sector that starts on a sector boundary. page_size when none.
size_t torn_tail(Bytes page) {
    constexpr size_t kSector = 512;
    size_t zero = page.size();
    while (zero > 0 && page[zero - 1] == 0) --zero;
    const size_t start = (zero + kSector - 1) / kSector * kSector;
    return page.size() >= start + kSector ? start : page.size();
}

// Where a logical row's bytes are: its own slot, or the target of its overflow header.
struct RowAt {
    uint32_t page = 0;
    uint16_t slot = 0;
    uint16_t start = 0;
    uint16_t end = 0;
};

class TableMender {
public:
    TableMender(FixContext& context, Database& db, const PageFile& disk, const TableDef& table, std::string name)
        : context_(context), db_(db), disk_(disk), layout_(db.layout()), table_(table), name_(std::move(name)),
          pages_(context) {}

    void run() {
        Faults ignored;
        const std::vector<uint32_t> data_pages = db_.data_pages(table_, name_, ignored);
        for (uint32_t p : data_pages) mend_page(p);
        for (uint32_t p : data_pages) mend_overflow_headers(p);
        for (uint32_t p : data_pages) mend_values(p);
        pages_.commit();
    }

    size_t dropped_rows() const { return dropped_rows_; }

private:
    FixContext& context_;
    Database& db_;
    const PageFile& disk_;  // the copy as it was when this table's walk began (long-value chains)
    const Layout& layout_;
    const TableDef& table_;
    std::string name_;
    StagedPages pages_;  // the table's edits, written once its walk ends
    std::set<uint32_t> overflow_targets_;
    size_t dropped_rows_ = 0;

    DecodeContext decode_context() const { return DecodeContext{&disk_, &layout_, db_.header().code_page}; }

    // Saves a row about to be dropped with every value that still decodes.
    void save_row(uint32_t page, uint16_t slot, Bytes row, const std::string& reason) {
        const RecoveredItem item = dropped_row_item(table_, decode_context(), name_, page, slot, row, reason);
        context_.save_dropped(item);
        if (item.values.empty()) context_.count_unsaved();
        ++dropped_rows_;
    }

    // Rows and overflow targets whose values are whole but a NULL field's offsets are out
    // of place get them back in order, where the rest of the row frames as Access ends it.
    void mend_null_places(uint32_t number, std::vector<uint8_t>& page) {
        const DataPage view(page, layout_);
        for (uint16_t i = 0; i < view.row_count(); ++i) {
            const RowSlot slot = view.slot(i);
            if (!slot.bounds_ok || slot.overflow() || slot.length() == 0) continue;
            const std::span<uint8_t> row(page.data() + slot.start, slot.length());
            if (!row_packed(table_, layout_, row) || row_sound(table_, layout_, row)) continue;
            if (place_null_fields(table_, layout_, row)) pages_.changed(number);
        }
    }

    void mend_page(uint32_t number) {
        std::vector<uint8_t>& page = pages_.page(number);
        DataPage view(page, layout_);
        if (!view.is_data_page() || view.owner() != table_.page) return;
        mend_null_places(number, page);
        const std::vector<uint8_t> before = page;
        // Rows reaching into a torn tail lost their trailer, even when the zeros frame.
        const size_t torn = torn_tail(before);
        // Rows crossing a sector that never reached the disk lost bytes, even when they decode.
        const std::vector<size_t> zeroed =
            table_.page == kCatalogPage ? std::vector<size_t>{} : zeroed_row_sectors(before, layout_);
        auto sound = [&](Bytes row) {
            const size_t start = size_t(row.data() - before.data());
            return start + row.size() <= torn && !crosses_sector(zeroed, start, start + row.size()) &&
                   row_sound(table_, layout_, row);
        };
        auto exact = [&](Bytes row) { return row_packed(table_, layout_, row) && sound(row); };
        const DataPagePlan plan = plan_data_page(before, layout_, sound, exact, table_.num_var_cols > 0);
        for (size_t i = 0; i < plan.slots.size(); ++i) {
            const SlotPlan& s = plan.slots[i];
            const uint16_t slot = static_cast<uint16_t>(i);
            if (s.fate == SlotFate::Dropped)
                save_row(number, slot, Bytes(before).subspan(s.start, s.end - s.start),
                         "la fila no se puede leer; se marca como borrada");
            if (s.fate == SlotFate::Lost && s.was_live) {
                RecoveredItem item{name_, number, slot, {}, "la posición de la fila en la página se ha perdido", {}, {}};
                context_.save_dropped(item);
                context_.count_unsaved();
                ++dropped_rows_;
            }
        }
        const bool count_changed = view.stored_row_count() != plan.row_count;
        if (plan.changes_slots() || count_changed) apply_data_page_plan(page, layout_, plan);
        set_free_space(page, layout_);
        if (page != before) pages_.changed(number);
    }

    // The overflow target of a header slot, or nothing when it is not a valid one.
    std::optional<RowAt> overflow_target(Bytes header) {
        if (header.size() < 4) return std::nullopt;
        const RowPointer to = RowPointer::from_u32(u32_at(header, 0));
        if (to.page == 0 || to.page >= context_.page_count()) return std::nullopt;
        const std::vector<uint8_t>& bytes = pages_.page(to.page);
        DataPage target(bytes, layout_);
        if (!target.is_data_page() || target.owner() != table_.page || to.row >= target.row_count())
            return std::nullopt;
        const RowSlot slot = target.slot(to.row);
        if (!slot.bounds_ok || (slot.raw & (kRowDeleted | kRowOverflow)) != kRowDeleted) return std::nullopt;
        if (!row_sound(table_, layout_, target.row(to.row))) return std::nullopt;
        if (!overflow_targets_.insert((to.page << 8) | to.row).second) return std::nullopt;
        return RowAt{to.page, to.row, slot.start, slot.end};
    }

    void mend_overflow_headers(uint32_t number) {
        std::vector<uint8_t>& page = pages_.page(number);
        DataPage view(page, layout_);
        if (!view.is_data_page() || view.owner() != table_.page) return;
        for (uint16_t i = 0; i < view.row_count(); ++i) {
            const RowSlot slot = view.slot(i);
            if (slot.deleted() || !slot.overflow() || !slot.bounds_ok) continue;
            if (overflow_target(view.row(i))) continue;
            // Save what the target holds when it is there at all, else the pointer itself.
            const RowPointer to = RowPointer::from_u32(u32_at(view.row(i), 0));
            Bytes saved = view.row(i);
            if (to.page != 0 && to.page < context_.page_count() && to.page != number) {
                DataPage target(pages_.page(to.page), layout_);
                if (target.is_data_page() && target.owner() == table_.page && to.row < target.row_count() &&
                    !target.row(to.row).empty())
                    saved = target.row(to.row);
            }
            save_row(number, i, saved, "la fila remite a un contenido que no es válido; se marca como borrada");
            delete_slot(number, i);
            drop_unsound_target(to);
        }
    }

    void delete_slot(uint32_t number, uint16_t slot_index) {
        std::vector<uint8_t>& page = pages_.page(number);
        const RowSlot slot = DataPage(page, layout_).slot(slot_index);
        const uint16_t raw = static_cast<uint16_t>(kRowDeleted | kRowOverflow | slot.start);
        page[layout_.data_header_size + 2 * size_t(slot_index)] = static_cast<uint8_t>(raw);
        page[layout_.data_header_size + 2 * size_t(slot_index) + 1] = static_cast<uint8_t>(raw >> 8);
        pages_.changed(number);
    }

    // mdbtools and mdb-reader read an overflow target in place, as a row of its page: one
    // that does not decode, its header gone, is deleted too (it was saved with the header).
    void drop_unsound_target(RowPointer to) {
        if (to.page == 0 || to.page >= context_.page_count()) return;
        const DataPage target(pages_.page(to.page), layout_);
        if (!target.is_data_page() || target.owner() != table_.page || to.row >= target.row_count()) return;
        const RowSlot slot = target.slot(to.row);
        if (!slot.bounds_ok || (slot.raw & (kRowDeleted | kRowOverflow)) != kRowDeleted) return;
        if (row_sound(table_, layout_, target.row(to.row))) return;
        delete_slot(to.page, to.row);
    }

    // Makes a column NULL in the row by clearing its bit in the null mask.
    void clear_null_bit(RowAt at, uint16_t stored_columns, uint16_t column_number) {
        std::vector<uint8_t>& page = pages_.page(at.page);
        const size_t nm = (size_t(stored_columns) + 7) / 8;
        page[at.end - nm + column_number / 8] &= static_cast<uint8_t>(~(1u << (column_number % 8)));
        pages_.changed(at.page);
    }

    void save_value(RowAt at, const Column& c, const std::string& reason, std::vector<uint8_t> raw, std::string text) {
        RecoveredItem item{name_, at.page, at.slot, c.name, reason, {}, std::move(raw)};
        if (!text.empty()) item.values.emplace_back(c.name, std::move(text));
        context_.save_dropped(item);
        if (item.values.empty() && item.raw.empty()) context_.count_unsaved();
    }

    void mend_values(uint32_t number) {
        DataPage view(pages_.page(number), layout_);
        if (!view.is_data_page() || view.owner() != table_.page) return;
        for (uint16_t i = 0; i < view.row_count(); ++i) {
            const RowSlot slot = view.slot(i);
            if (slot.deleted() || !slot.bounds_ok) continue;
            RowAt at{number, i, slot.start, slot.end};
            if (slot.overflow()) {
                const RowPointer to = RowPointer::from_u32(u32_at(view.row(i), 0));
                const RowSlot target = DataPage(pages_.page(to.page), layout_).slot(to.row);
                at = RowAt{to.page, to.row, target.start, target.end};
            }
            mend_row_values(at);
        }
    }

    void mend_row_values(RowAt at) {
        std::vector<uint8_t>& page = pages_.page(at.page);
        const Bytes row = Bytes(page).subspan(at.start, at.end - at.start);
        const CrackedRow cracked = crack_row(table_, layout_, row);
        if (!cracked.usable) return;
        for (size_t k = 0; k < table_.columns.size(); ++k) {
            const Column& c = table_.columns[k];
            const Field& field = cracked.fields[k];
            if (!field.present || c.bit_only()) continue;
            const std::vector<uint8_t> raw(field.bytes.begin(), field.bytes.end());
            if (c.long_value()) {
                mend_long_value(at, cracked, c, size_t(field.bytes.data() - page.data()), raw);
                continue;
            }
            const bool too_long = !c.fixed() && !c.calculated() &&
                                  (c.type == data_type::text || c.type == data_type::binary) && raw.size() > c.length;
            Faults faults;
            if (!too_long && c.calculated()) decode_field(c, field, decode_context(), faults);
            if (!too_long && faults.empty()) continue;
            save_value(at, c, "el valor de la columna no es válido; se deja vacío", raw, {});
            clear_null_bit(at, cracked.stored_columns, c.number);
        }
    }

    // The readable start of a long value: its bytes and the last chain row that was read.
    struct ReadablePart {
        std::vector<uint8_t> data;
        std::optional<RowPointer> last_row;
    };

    Bytes lval_row(RowPointer at) {
        if (at.page == 0 || at.page >= context_.page_count()) return {};
        DataPage page(pages_.page(at.page), layout_);
        if (!page.is_data_page() || !page.is_lval() || at.row >= page.row_count()) return {};
        return page.row(at.row);
    }

    ReadablePart readable_chain(const LongValueDefinition& def) {
        ReadablePart part;
        std::set<uint32_t> seen;
        for (RowPointer at = def.first; part.data.size() < def.length && !at.null();) {
            if (!seen.insert((at.page << 8) | at.row).second) break;
            const Bytes row = lval_row(at);
            if (row.size() < 4) break;
            const Bytes chunk = slice(row, 4, def.length - part.data.size());
            part.data.insert(part.data.end(), chunk.begin(), chunk.end());
            part.last_row = at;
            at = RowPointer::from_u32(u32_at(row, 0));
        }
        return part;
    }

    std::string memo_text(const Column& c, const std::vector<uint8_t>& data) const {
        if (c.type != data_type::memo) return {};
        return decode_text(data, layout_, c.code_page ? c.code_page : db_.header().code_page);
    }

    // A property blob whose lengths do not hold together leads readers astray; it goes
    // whole to the recovery file and the object keeps no properties.
    void drop_broken_properties(RowAt at, const CrackedRow& cracked, const Column& c, const LongValue& full) {
        if (!holds_property_blobs(table_.page, c.name)) return;
        const PropertyBlob blob = read_property_blob(full.data);
        if (blob.fault.empty()) return;
        save_value(at, c,
                   "las propiedades de «" + catalog_row_name(table_, cracked, decode_context()) + "» están dañadas (" + blob.fault +
                       "); se quitan del objeto (se leía aún: " + property_blob_summary(blob) + ")",
                   full.data, {});
        clear_null_bit(at, cracked.stored_columns, c.number);
    }

    void mend_long_value(RowAt at, const CrackedRow& cracked, const Column& c, size_t field_offset,
                         const std::vector<uint8_t>& raw) {
        const uint16_t stored_columns = cracked.stored_columns;
        std::vector<uint8_t>& page = pages_.page(at.page);
        LongValueDefinition def;
        const bool framed = parse_long_value_definition(raw, def) &&
                            (def.kind == kLongValueInline || raw.size() == kLongValueDefinitionSize) &&
                            (def.kind == kLongValueInline || def.kind == kLongValueSingleRow || def.kind == 0);
        if (!framed) {
            save_value(at, c, "la referencia al valor largo no es válida; se deja vacío", raw, {});
            clear_null_bit(at, stored_columns, c.number);
            return;
        }
        const LongValue full = read_long_value(disk_, layout_, raw);
        Bytes result;
        if (full.faults.empty() && (!c.calculated() || unwrap_calculated(full.data, result))) {
            drop_broken_properties(at, cracked, c, full);
            return;
        }
        if (c.calculated()) {
            // Cut short, a calculated value would no longer hold the length its wrapper
            // declares; it follows from the row's other fields, so it is left empty.
            save_value(at, c, "el valor calculado está dañado; se deja vacío", raw, {});
            clear_null_bit(at, stored_columns, c.number);
            return;
        }

        ReadablePart part;
        if (def.kind == kLongValueInline) {
            const Bytes data = slice(raw, kLongValueDefinitionSize, def.length);
            part.data.assign(data.begin(), data.end());
        } else if (def.kind == kLongValueSingleRow) {
            const Bytes data = slice(lval_row(def.first), 0, def.length);
            part.data.assign(data.begin(), data.end());
        } else {
            part = readable_chain(def);
        }
        save_value(at, c,
                   "el valor largo está dañado: se conservan " + std::to_string(part.data.size()) + " de " +
                       std::to_string(def.length) + " bytes (aquí el valor tal como se pudo leer)",
                   part.data, memo_text(c, part.data));
        // System tables hold structured blobs (property lists, storage) that their readers
        // parse: a cut one misleads them, so there the value goes, kept in the recovery file.
        if (part.data.empty() || table_.table_type == 'S') {
            clear_null_bit(at, stored_columns, c.number);
            return;
        }
        // The chain now ends at the last row that read; the definition says what it holds.
        if (part.last_row) {
            std::vector<uint8_t>& lval = pages_.page(part.last_row->page);
            const RowSlot slot = DataPage(lval, layout_).slot(part.last_row->row);
            if (u32_at(lval, slot.start) != 0) {
                put_u32(lval, slot.start, 0);
                pages_.changed(part.last_row->page);
            }
        }
        put_u32(page, field_offset, def.kind | static_cast<uint32_t>(part.data.size()));
        pages_.changed(at.page);
    }
};

// Every table; true when rows were dropped (the stored row counts must follow).
bool mend_tables(FixContext& context) {
    Database& db = context.database();
    const std::vector<CatalogTable> tables =
        every_table(db.catalog().readable ? db.catalog() : Catalog{}, context.page_count());
    size_t dropped = 0;
    for (const auto& [name, page] : tables) {
        const TableDefResult& def = db.table_def(page);
        if (!def.table || !def.table->complete || def.table->columns.empty()) continue;
        // Each table sees the pages as the tables before it left them: nothing reaches the
        // copy while one table is mended (its pages are written back at the end).
        TableMender mender(context, db, context.pages(), *def.table, name);
        mender.run();
        dropped += mender.dropped_rows();
    }
    return dropped > 0;
}

void mend_every_table(FixContext& context) {
    // Before the recount that follows dropped rows would lower the counts that vouch for them.
    fix_deleted_rows(context, {});
    if (mend_tables(context)) fix_row_counts(context, {});
}

}  // namespace

void fix_rows(FixContext& context, std::span<const Finding>) { mend_every_table(context); }

void fix_long_values(FixContext& context, std::span<const Finding>) { mend_every_table(context); }

}  // namespace jet
