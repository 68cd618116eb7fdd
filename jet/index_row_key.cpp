#include "jet/index_row_key.h"

#include <algorithm>

#include "jet/text.h"

namespace jet {
namespace {

constexpr size_t kJet4SortVersionOffset = 3;  // after the u16 LCID and one unknown byte

std::string column_text(const Column& c) { return "«" + c.name + "»"; }

Bytes field_data(const Column& c, const Field& f) {
    if (!c.calculated()) return f.bytes;
    if (f.bytes.size() < kCalculatedDataOffset) return {};
    return slice(f.bytes, kCalculatedDataOffset, u32_at(f.bytes, kCalculatedLengthOffset));
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint8_t b = static_cast<uint8_t>(s[i]);
        char32_t cp;
        size_t n;
        if (b < 0x80) {
            cp = b;
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            n = 4;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (i + n > s.size()) {
            out.push_back(0xFFFD);
            break;
        }
        for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

uint8_t column_sort_version(const TableDef& table, const Column& column, const Layout& layout) {
    if (layout.jet3) return 0;
    return u8_at(table.buffer, column.descriptor_offset + layout.col_sort_order + kJet4SortVersionOffset);
}

IndexKeyPlan plan_index_key(const TableDef& table, const RealIndex& index, const Layout& layout,
                            uint8_t db_version_byte) {
    IndexKeyPlan plan;
    plan.legacy_decimal = index_key::legacy_decimal_rule(db_version_byte);
    for (const IndexColumn& ic : index.columns) {
        if (ic.number == 0xFFFF) continue;
        auto it = std::find_if(table.columns.begin(), table.columns.end(),
                               [&](const Column& c) { return c.number == ic.number; });
        if (it == table.columns.end()) {
            plan.encodable = false;
            plan.reason = "el índice usa la columna " + std::to_string(ic.number) + ", que no existe";
            return plan;
        }
        const Column& c = *it;
        IndexKeyPart part{static_cast<size_t>(it - table.columns.begin()), ic.ascending, std::nullopt};
        if (!index_key::indexable_type(c.type)) {
            plan.encodable = false;
            plan.reason = "la columna " + column_text(c) + " es de un tipo que no se puede indexar";
            return plan;
        }
        if (c.type == data_type::text || c.type == data_type::memo) {
            part.text_order = index_key::text_sort_order(
                c.sort_order, column_sort_version(table, c, layout), db_version_byte);
            if (!part.text_order) {
                plan.encodable = false;
                plan.reason = "la columna " + column_text(c) + " usa un orden de clasificación (" +
                              std::to_string(c.sort_order) + ") cuyo índice no se sabe reconstruir";
                return plan;
            }
            if (std::find(plan.text_orders.begin(), plan.text_orders.end(), *part.text_order) ==
                plan.text_orders.end())
                plan.text_orders.push_back(*part.text_order);
        }
        plan.parts.push_back(part);
    }
    if (plan.parts.empty()) {
        plan.encodable = false;
        plan.reason = "el índice no tiene columnas";
    }
    return plan;
}

std::optional<RowKey> row_key(const IndexKeyPlan& plan, const TableDef& table,
                              const CrackedRow& row, const DecodeContext& context, Faults& faults) {
    if (!plan.encodable || !row.usable) return std::nullopt;
    RowKey out;
    for (const IndexKeyPart& part : plan.parts) {
        if (part.column_pos >= table.columns.size() || part.column_pos >= row.fields.size())
            return std::nullopt;
        const Column& c = table.columns[part.column_pos];
        const Field& f = row.fields[part.column_pos];
        if (c.type == data_type::boolean) {
            // Never NULL: an absent column reads as false.
            out.all_null = false;
            index_key::append_boolean(out.key, f.present && f.bit, part.ascending);
            continue;
        }
        if (!f.present) {
            index_key::append_null(out.key, part.ascending);
            continue;
        }
        out.all_null = false;
        if (c.type == data_type::text || c.type == data_type::memo) {
            Value v = decode_field(c, f, context, faults);
            const auto* s = std::get_if<std::string>(&v);
            if (!s) return std::nullopt;
            index_key::append_text(out.key, utf8_to_utf16(*s), *part.text_order, part.ascending);
        } else if (c.type == data_type::binary) {
            index_key::append_binary(out.key, field_data(c, f), part.ascending);
        } else if (!index_key::append_fixed(out.key, c.type, field_data(c, f), part.ascending,
                                            plan.legacy_decimal)) {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace jet
