#include "jet/format/long_value.h"

#include <set>
#include <string>

#include "jet/format/data_page.h"
#include "jet/file/page_file.h"

namespace jet {

bool parse_long_value_definition(Bytes field, LongValueDefinition& out) {
    if (field.size() < kLongValueDefinitionSize) return false;
    uint32_t word = u32_at(field, 0);
    out.length = word & kLongValueLengthMask;
    out.kind = word & ~kLongValueLengthMask;
    out.first = RowPointer::from_u32(u32_at(field, 4));
    out.unknown = u32_at(field, 8);
    return true;
}

namespace {

// The LVAL row at a pointer, or empty with a fault. The row lives in `holder`.
Bytes lval_row(const PageFile& file, const Layout& layout, RowPointer at, PageRef& holder, Faults& faults) {
    auto fault = [&](std::string detail) {
        faults.push_back({FaultKind::LongValuePointer, at.page, at.row, {}, std::move(detail)});
        return Bytes{};
    };
    holder = file.fetch(at.page);
    const PageRef& bytes = holder;
    if (at.page == 0 || bytes.empty()) return fault("el valor largo apunta fuera del archivo");
    DataPage page(bytes, layout);
    if (!page.is_data_page() || !page.is_lval()) return fault("el valor largo apunta a una página que no es LVAL");
    if (at.row >= page.row_count()) return fault("el valor largo apunta a una fila inexistente");
    Bytes row = page.row(at.row);
    if (row.empty() && !page.slot(at.row).bounds_ok) return fault("la fila del valor largo tiene límites incorrectos");
    return row;
}

}  // namespace

LongValue read_long_value(const PageFile& file, const Layout& layout, Bytes field) {
    LongValue v;
    LongValueDefinition def;
    if (!parse_long_value_definition(field, def)) {
        v.faults.push_back({FaultKind::RowFieldLength, 0, -1, {}, "la definición del valor largo es demasiado corta"});
        return v;
    }
    auto truncated = [&](size_t have) {
        v.faults.push_back({FaultKind::LongValueTruncated, def.first.page, def.first.row, {},
                            "el valor largo declara " + std::to_string(def.length) + " bytes y solo se leen " +
                                std::to_string(have)});
    };
    if (def.kind == kLongValueInline) {
        Bytes data = slice(field, kLongValueDefinitionSize, def.length);
        v.data.assign(data.begin(), data.end());
        v.complete = data.size() == def.length;
        if (!v.complete) truncated(data.size());
        return v;
    }
    if (def.kind == kLongValueSingleRow) {
        v.rows.push_back(def.first);
        PageRef holder;
        Bytes row = lval_row(file, layout, def.first, holder, v.faults);
        Bytes data = slice(row, 0, def.length);
        v.data.assign(data.begin(), data.end());
        v.complete = data.size() == def.length;
        if (!v.complete && v.faults.empty()) truncated(data.size());
        return v;
    }
    if (def.kind != 0) {
        v.faults.push_back({FaultKind::LongValueKind, 0, -1, {}, "el valor largo tiene un tipo de almacenamiento desconocido"});
        return v;
    }
    std::set<uint32_t> seen;
    RowPointer at = def.first;
    PageRef holder;
    while (v.data.size() < def.length) {
        if (at.null()) {
            truncated(v.data.size());
            return v;
        }
        if (!seen.insert((at.page << 8) | at.row).second) {
            v.faults.push_back({FaultKind::LongValueCycle, at.page, at.row, {}, "la cadena del valor largo vuelve sobre sí misma"});
            return v;
        }
        v.rows.push_back(at);
        Bytes row = lval_row(file, layout, at, holder, v.faults);
        if (row.size() < 4) {
            if (!row.empty() || v.faults.empty())
                v.faults.push_back({FaultKind::LongValuePointer, at.page, at.row, {}, "una fila de la cadena del valor largo es demasiado corta"});
            return v;
        }
        Bytes chunk = slice(row, 4, def.length - v.data.size());
        v.data.insert(v.data.end(), chunk.begin(), chunk.end());
        at = RowPointer::from_u32(u32_at(row, 0));
    }
    v.complete = true;
    return v;
}

}  // namespace jet
