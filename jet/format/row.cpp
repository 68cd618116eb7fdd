#include "jet/format/row.h"

#include <algorithm>
#include <string>

#include "jet/format/calculated.h"
#include "jet/format/long_value.h"
#include "jet/file/page_file.h"
#include "jet/base/text.h"

namespace jet {

namespace {

uint16_t type_size(uint8_t type, uint16_t declared) {
    switch (type) {
        case data_type::boolean: return 0;
        case data_type::byte: return 1;
        case data_type::integer: return 2;
        case data_type::long_integer:
        case data_type::single:
        case data_type::complex: return 4;
        case data_type::currency:
        case data_type::double_:
        case data_type::datetime:
        case data_type::big_int: return 8;
        case data_type::guid: return 16;
        case data_type::decimal: return 17;
        case data_type::datetime_ext: return 42;
        default: return declared;
    }
}

}  // namespace

uint16_t fixed_size(const Column& c) { return c.calculated() ? c.length : type_size(c.type, c.length); }

namespace {

// Jet 4: the variable-offset table's size checked, its entries left in place (u16 each,
// entry i at jet4_offsets - 2i); false when it does not fit the row.
bool find_jet4_var_table(Bytes row, size_t nm, size_t& var_count, size_t& trailer_start,
                         const uint8_t*& jet4_offsets) {
    const size_t L = row.size();
    if (L < 2 + nm + 2) return false;
    const size_t v = u16_at(row, L - nm - 2);
    const size_t table_bytes = 2 + 2 * (v + 1);
    if (L < 2 + nm + table_bytes) return false;
    trailer_start = L - nm - table_bytes;
    var_count = v;
    jet4_offsets = row.data() + (L - nm - 4);
    return true;
}

bool read_jet3_var_table(Bytes row, size_t nm, std::vector<uint32_t>& offsets, size_t& trailer_start) {
    const size_t L = row.size();
    if (L < 1 + nm + 1) return false;
    const size_t last = L - 1;
    const size_t v = row[last - nm];
    const size_t jumps = (L - 1) / 256;
    if (last < nm + jumps + 1 + v + 1) return false;
    const size_t base = last - nm - jumps - 1;  // offset[i] low byte at base - i
    if (base - v < 1) return false;
    size_t real_jumps = jumps;
    if ((base - v) / 256 < jumps) --real_jumps;  // the lowest jump byte is a dummy
    trailer_start = base - v;
    offsets.resize(v + 1);
    size_t used = 0;
    for (size_t i = 0; i <= v; ++i) {
        while (used < real_jumps && row[last - nm - 1 - used] == i) ++used;
        offsets[i] = uint32_t(row[base - i]) + 256 * uint32_t(used);
    }
    return true;
}

}  // namespace

RowFrame::Status RowFrame::frame(const TableDef& table, const Layout& layout, Bytes row,
                                 std::vector<uint32_t>& offsets, View& v) {
    v.row = row;
    v.cs = layout.row_count_size;
    v.stored_columns = 0;
    v.var_count = 0;
    v.offsets = nullptr;
    v.jet4_offsets = nullptr;
    if (row.size() < v.cs + 1) return Status::TooShort;
    const size_t n = v.cs == 1 ? row[0] : u16_at(row, 0);
    const size_t nm = (n + 7) / 8;
    v.stored_columns = n;
    if (n == 0 || v.cs + nm > row.size()) return Status::ColumnCount;
    v.mask = row.subspan(row.size() - nm, nm);
    v.has_var = table.num_var_cols > 0;
    v.fixed_end = row.size() - nm;
    v.trailer_start = 0;
    if (v.has_var) {
        if (layout.jet3) {
            if (!read_jet3_var_table(row, nm, offsets, v.trailer_start)) return Status::VarTable;
            v.offsets = offsets.data();
            v.var_count = offsets.size() - 1;
        } else if (!find_jet4_var_table(row, nm, v.var_count, v.trailer_start, v.jet4_offsets)) {
            return Status::VarTable;
        }
        const size_t first = v.offset(0);
        v.fixed_end = std::min<size_t>(first, v.trailer_start);
        if (first < v.cs) v.fixed_end = v.cs;
    }
    return Status::Ok;
}

RowFrame::Status RowFrame::load(const TableDef& table, const Layout& layout, Bytes row) {
    const Status status = frame(table, layout, row, offsets_, view_);
    usable_ = status == Status::Ok;
    return status;
}

CrackedRow crack_row(const TableDef& table, const Layout& layout, Bytes row) {
    CrackedRow out;
    crack_row_into(table, layout, row, out);
    return out;
}

void crack_row_into(const TableDef& table, const Layout& layout, Bytes row, CrackedRow& out) {
    out.faults.clear();
    out.fields.assign(table.columns.size(), Field{});
    auto fault = [&](FaultKind kind, std::string detail) { out.faults.push_back({kind, 0, -1, {}, std::move(detail)}); };
    RowFrame::View view;
    const RowFrame::Status status = RowFrame::frame(table, layout, row, out.var_offsets, view);
    out.usable = status == RowFrame::Status::Ok;
    out.stored_columns = static_cast<uint16_t>(
        status == RowFrame::Status::Ok || status == RowFrame::Status::VarTable ? view.stored_columns : 0);
    out.var_count = static_cast<uint16_t>(view.var_count);
    switch (status) {
        case RowFrame::Status::Ok: break;
        case RowFrame::Status::TooShort:
            fault(FaultKind::RowTooShort, "la fila es demasiado corta (" + std::to_string(row.size()) + " bytes)");
            return;
        case RowFrame::Status::ColumnCount:
            fault(FaultKind::RowColumnCount,
                  "el número de columnas de la fila (" + std::to_string(view.stored_columns) + ") no es posible");
            return;
        case RowFrame::Status::VarTable:
            fault(FaultKind::RowVarTable, "la tabla de posiciones variables de la fila no cabe en ella");
            return;
    }
    bool var_fault = false, null_fault = false;
    for (size_t k = 0; k < table.columns.size(); ++k) {
        const Column& c = table.columns[k];
        switch (RowFrame::locate_in(view, c, out.fields[k])) {
            case RowFrame::Locate::Ok: break;
            case RowFrame::Locate::FixedOutside:
                fault(FaultKind::RowFixedField, "el campo fijo «" + c.name + "» queda fuera de la fila");
                break;
            case RowFrame::Locate::VarInvalid:
                if (!var_fault)
                    fault(FaultKind::RowVarTable, "las posiciones del campo variable «" + c.name + "» no son válidas");
                var_fault = true;
                break;
        }
        // mdbtools places every stored field, NULL or not, before it reads the null mask,
        // and skips the whole row when one falls outside it.
        if (!null_fault && !out.fields[k].bit && !RowFrame::null_place_ok(view, c)) {
            fault(FaultKind::RowNullPlace, c.name);
            null_fault = true;
        }
    }
}

namespace {

Value fixed_value(const Column& c, Bytes b, const std::string& name, Faults& faults) {
    const size_t need = type_size(c.type, c.length);
    if (b.size() < need || (need == 0 && c.type != data_type::boolean)) {
        faults.push_back({FaultKind::RowFieldLength, 0, -1, {},
                          "el campo «" + name + "» tiene " + std::to_string(b.size()) + " bytes"});
        return Null{};
    }
    switch (c.type) {
        case data_type::byte: return b[0];
        case data_type::integer: return static_cast<int16_t>(u16_at(b, 0));
        case data_type::long_integer:
        case data_type::complex: return static_cast<int32_t>(u32_at(b, 0));
        case data_type::currency: return Currency{static_cast<int64_t>(u64_at(b, 0))};
        case data_type::single: return f32_at(b, 0);
        case data_type::double_: return f64_at(b, 0);
        case data_type::datetime: return DateTime{f64_at(b, 0)};
        case data_type::big_int: return static_cast<int64_t>(u64_at(b, 0));
        case data_type::guid: {
            Guid g;
            std::copy_n(b.begin(), 16, g.bytes.begin());
            return g;
        }
        case data_type::decimal: {
            Decimal d;
            d.negative = (b[0] & 0x80) != 0;
            for (size_t i = 0; i < 4; ++i) d.words[i] = u32_at(b, 1 + 4 * i);
            d.precision = c.precision;
            d.scale = c.scale;
            return d;
        }
        default: return Null{};
    }
}

}  // namespace

namespace {

void calculated_fault(const Column& c, const std::string& what, Faults& faults) {
    faults.push_back({FaultKind::RowFieldLength, 0, -1, {}, "el campo calculado «" + c.name + "» " + what});
}

// The data of a calculated value (a stored field, or a calculated memo's long value);
// false, with a fault, when its wrapper does not hold it.
bool calculated_data(const Column& c, Bytes stored, Bytes& out, Faults& faults) {
    if (unwrap_calculated(stored, out)) return true;
    calculated_fault(c, stored.size() < kCalculatedDataOffset
                            ? "es demasiado corto (" + std::to_string(stored.size()) + " bytes)"
                            : "declara más datos de los que guarda",
                     faults);
    return false;
}

// The stored bytes of a present text field, a calculated wrapper removed.
bool text_data(const Column& c, const Field& field, Bytes& out, Faults& faults) {
    out = field.bytes;
    return !c.calculated() || c.long_value() || calculated_data(c, field.bytes, out, faults);
}

// The long value a memo or OLE field points to; nullopt when nothing at all was read.
std::optional<std::vector<uint8_t>> long_value_data(const Column& c, Bytes b, const DecodeContext& ctx,
                                                    const Layout& layout, Faults& faults) {
    if (!ctx.file || b.empty()) return std::nullopt;
    LongValue lv = read_long_value(*ctx.file, layout, b);
    for (auto& f : lv.faults) {
        f.detail = "campo «" + c.name + "»: " + f.detail;
        faults.push_back(std::move(f));
    }
    if (lv.data.empty() && !lv.complete) return std::nullopt;
    if (!c.calculated()) return std::move(lv.data);
    Bytes data;
    if (!lv.complete || !calculated_data(c, lv.data, data, faults)) return std::nullopt;
    return std::vector<uint8_t>(data.begin(), data.end());
}

// A calculated value other than a memo. When the column's properties did not confirm its
// result type, data that does not fit the stored type is given as it is, not as damage.
Value calculated_value(const Column& c, Bytes stored, const DecodeContext& ctx, Faults& faults) {
    Bytes b;
    if (!calculated_data(c, stored, b, faults)) return Null{};
    const Layout& layout = ctx.layout ? *ctx.layout : kJet4Layout;
    if (c.type == data_type::text) return decode_text(b, layout, c.code_page ? c.code_page : ctx.code_page);
    if (b.empty()) return Null{};
    Faults local;
    Value v = Null{};
    if (c.type == data_type::boolean) {
        v = b[0] != 0;
    } else if (c.type == data_type::decimal) {
        Decimal d;
        if (calculated_decimal(b, d))
            v = d;
        else
            calculated_fault(c, "guarda un decimal de " + std::to_string(b.size()) + " bytes", local);
    } else {
        v = fixed_value(c, b, c.name, local);
    }
    if (local.empty()) return v;
    if (!c.result_type_known) return Binary{std::vector<uint8_t>(b.begin(), b.end())};
    faults.insert(faults.end(), local.begin(), local.end());
    return Null{};
}

}  // namespace

bool decode_field_text_utf16(const Column& c, const Field& field, const DecodeContext& ctx, Faults& faults,
                             std::u16string& out) {
    if (!field.present || (c.type != data_type::text && c.type != data_type::memo)) return false;
    Bytes b;
    if (!text_data(c, field, b, faults)) return false;
    const Layout& layout = ctx.layout ? *ctx.layout : kJet4Layout;
    const uint16_t code_page = c.code_page ? c.code_page : ctx.code_page;
    if (c.type == data_type::text) {
        decode_text_utf16(b, layout, code_page, out);
        return true;
    }
    auto data = long_value_data(c, b, ctx, layout, faults);
    if (!data) return false;
    decode_text_utf16(*data, layout, code_page, out);
    return true;
}

std::optional<std::u16string> decode_field_text_utf16(const Column& c, const Field& field, const DecodeContext& ctx,
                                                      Faults& faults) {
    std::u16string out;
    if (!decode_field_text_utf16(c, field, ctx, faults, out)) return std::nullopt;
    return out;
}

Value decode_field(const Column& c, const Field& field, const DecodeContext& ctx, Faults& faults) {
    // A Yes/No value is its null-mask bit and is never NULL: a row written before the
    // column was added reads No, as Access shows it.
    if (c.bit_only()) return Value{field.present && field.bit};
    if (!field.present) return Null{};
    if (c.calculated() && !c.long_value()) return calculated_value(c, field.bytes, ctx, faults);
    const Bytes b = field.bytes;
    const Layout& layout = ctx.layout ? *ctx.layout : kJet4Layout;
    switch (c.type) {
        case data_type::text:
            return decode_text(b, layout, c.code_page ? c.code_page : ctx.code_page);
        case data_type::memo:
        case data_type::ole: {
            auto data = long_value_data(c, b, ctx, layout, faults);
            if (!data) return Null{};
            if (c.type == data_type::ole) return Binary{std::move(*data)};
            return decode_text(*data, layout, c.code_page ? c.code_page : ctx.code_page);
        }
        case data_type::datetime_ext: {
            std::string ascii;
            for (uint8_t ch : b) {
                if (ch == 0) break;
                ascii += static_cast<char>(ch);
            }
            return ExtendedDateTime{ascii};
        }
        case data_type::byte:
        case data_type::integer:
        case data_type::long_integer:
        case data_type::complex:
        case data_type::currency:
        case data_type::single:
        case data_type::double_:
        case data_type::datetime:
        case data_type::big_int:
        case data_type::guid:
        case data_type::decimal: return fixed_value(c, b, c.name, faults);
        default: return Binary{std::vector<uint8_t>(b.begin(), b.end())};
    }
}

DecodedRow decode_row(const TableDef& table, Bytes row, const DecodeContext& context) {
    DecodedRow out;
    CrackedRow cracked = crack_row(table, context.layout ? *context.layout : kJet4Layout, row);
    out.faults = std::move(cracked.faults);
    out.usable = cracked.usable;
    if (!out.usable) return out;
    out.values.reserve(table.columns.size());
    for (size_t k = 0; k < table.columns.size(); ++k)
        out.values.push_back(decode_field(table.columns[k], cracked.fields[k], context, out.faults));
    return out;
}

bool columns_fit(const TableDef& table, const CrackedRow& row) { return row.stored_columns <= table.max_cols; }

bool var_slots_fit(const TableDef& table, const CrackedRow& row) {
    return table.num_var_cols == 0 || row.var_count <= table.num_var_cols;
}

bool row_sound(const TableDef& table, const CrackedRow& row) {
    return row.usable && row.faults.empty() && columns_fit(table, row) && var_slots_fit(table, row);
}

bool row_sound(const TableDef& table, const Layout& layout, Bytes row) {
    return row_sound(table, crack_row(table, layout, row));
}

// Whether the row is laid out as Access writes it: variable data ending right where the
// trailer begins. A span cut at the wrong place rarely is, even when it frames.
bool row_packed(const TableDef& table, const Layout& layout, Bytes row) {
    const size_t n = layout.row_count_size == 1 ? u8_at(row, 0) : u16_at(row, 0);
    const size_t nm = (n + 7) / 8, L = row.size();
    if (table.num_var_cols == 0) {
        // The fixed part holds every fixed column the row stores, NULL or not, and the null
        // mask follows it (deleted columns may leave more behind).
        size_t fixed_end = 0;
        for (const Column& c : table.columns)
            if (c.fixed() && c.number < n) fixed_end = std::max<size_t>(fixed_end, c.fixed_offset + fixed_size(c));
        return L >= layout.row_count_size + fixed_end + nm;
    }
    if (layout.jet3) {
        if (L < nm + 2) return false;
        const size_t last = L - 1, v = row[last - nm], jumps = (L - 1) / 256;
        if (last < nm + jumps + 1 + v) return false;
        const size_t base = last - nm - jumps - 1;
        return row[base - v] == ((base - v) & 0xFF);
    }
    if (L < nm + 4) return false;
    const size_t v = u16_at(row, L - nm - 2);
    if (L < nm + 4 + 2 * v) return false;
    return u16_at(row, L - nm - 4 - 2 * v) == L - nm - 4 - 2 * v;
}

}  // namespace jet
