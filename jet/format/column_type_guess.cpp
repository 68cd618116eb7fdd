#include "jet/format/column_type_guess.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/file/page_file.h"
#include "jet/format/row.h"
#include "jet/format/table_pages.h"

namespace jet {
namespace {

constexpr size_t kSampledRows = 2000;
constexpr size_t kSampledValues = 500;

// Text Access stores reads as printable characters (tabs and line breaks aside; a
// control character may lead, as in the names of OLE storages) with surrogates in pairs
// and no private-use or special code units; binary values hold zeros and control bytes.
bool reads_as_text(const std::u16string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n' && (i > 0 || s.size() == 1)) return false;
        if ((c >= 0xE000 && c <= 0xF8FF) || c >= 0xFFF0) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

bool text_value(const Column& as_text, const Field& field, const DecodeContext& context, const Layout& layout) {
    // Jet 4 text is UTF-16 (even length) unless compressed (FF FE first).
    if (!layout.jet3 && as_text.length != 0 && field.bytes.size() % 2 != 0 &&
        !(field.bytes.size() >= 2 && field.bytes[0] == 0xFF && field.bytes[1] == 0xFE))
        return false;
    Faults faults;
    std::u16string text;
    if (!decode_field_text_utf16(as_text, field, context, faults, text) || !faults.empty()) return false;
    return reads_as_text(text);
}

double as_double(const std::vector<uint8_t>& b) {
    double d;
    std::memcpy(&d, b.data(), 8);
    return d;
}

float as_float(const std::vector<uint8_t>& b) {
    float f;
    std::memcpy(&f, b.data(), 4);
    return f;
}

int64_t as_int(const std::vector<uint8_t>& b) {
    uint64_t v = 0;
    for (size_t i = b.size(); i-- > 0;) v = v << 8 | b[i];
    if (b.size() < 8 && (v >> (8 * b.size() - 1))) v |= ~uint64_t(0) << (8 * b.size());
    return int64_t(v);
}

bool all_zero(const std::vector<std::vector<uint8_t>>& values) {
    return std::all_of(values.begin(), values.end(),
                       [](const auto& v) { return std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0; }); });
}

// A value a date/time column would hold: within the dates Access stores (years 100 to
// 9999), on a whole second, or any time of a day from 1910 to 2100 (Access's own tables
// keep times finer than seconds).
bool date_like(double d) {
    if (!std::isfinite(d) || d < -657434.0 || d >= 2958466.0) return false;
    if (d >= 3653.0 && d < 73415.0) return true;
    const double seconds = (std::abs(d) - std::floor(std::abs(d))) * 86400.0;
    return std::abs(seconds - std::round(seconds)) <= 1e-3;
}

// A value only a date tells well: a day from 1910 to 2100, or a time of day that no
// decimal of up to three places gives (such decimals, typed as doubles, often fall on
// whole seconds: 444.555 is 13:19:12).
bool telling_date(double d) {
    if (d >= 3653.0 && d < 73415.0) return true;
    const double thousandths = (std::abs(d) - std::floor(std::abs(d))) * 1000.0;
    return std::abs(thousandths - std::round(thousandths)) > 1e-6;
}

// A scaled integer (currency, large number) read as a double is subnormal, or NaN when negative.
bool integer_like(double d) { return d != 0.0 && !std::isnormal(d); }

TypeGuess eight_bytes(const TableDef& t, const ColumnValues& v, uint8_t version_byte) {
    if (t.table_type == 'S')
        return {data_type::datetime, "8 bytes en una tabla propia de Access, cuyas columnas de 8 bytes son siempre "
                                     "fechas: Fecha/Hora"};
    if (v.samples.empty()) {
        return {data_type::binary, "8 bytes sin valores que decidan entre Doble, Fecha/Hora, Moneda y Número grande; "
                                   "se toma Binario, que conserva los bytes"};
    }
    if (all_zero(v.samples))
        return {data_type::double_, "8 bytes cuyos valores son todos cero, que cualquier tipo numérico lee igual: Doble"};
    size_t integers = 0, dates = 0, telling = 0, doubles = 0, nonzero = 0;
    bool hundreds = true;
    for (const auto& b : v.samples) {
        const double d = as_double(b);
        if (as_int(b) == 0) continue;
        ++nonzero;
        if (integer_like(d)) {
            ++integers;
            if (as_int(b) % 100 != 0) hundreds = false;
        }
        if (date_like(d)) {
            ++dates;
            if (telling_date(d)) ++telling;
        }
        if (std::isnormal(d) && std::abs(d) < 1e300) ++doubles;
    }
    if (integers == nonzero) {
        if (!hundreds && version_byte >= 0x05)
            return {data_type::big_int, "8 bytes con valores enteros que no son importes: Número grande"};
        return {data_type::currency, "8 bytes con valores enteros escalados (importes): Moneda"};
    }
    if (dates == nonzero && telling > 0)
        return {data_type::datetime, "8 bytes cuyos valores son fechas y horas en segundos exactos: Fecha/Hora"};
    if (doubles == nonzero) return {data_type::double_, "8 bytes con valores de coma flotante finitos: Doble"};
    return {data_type::binary, "8 bytes con valores que no encajan en ningún tipo numérico; se toma Binario, que "
                               "conserva los bytes"};
}

TypeGuess four_bytes(const TableDef& t, const Column& c, const ColumnValues& v) {
    if (v.complex_listed)
        return {data_type::complex, "4 bytes que la lista de campos multivalor de Access nombra: Complejo"};
    if (c.flags & column_flag::auto_long) return {data_type::long_integer, "4 bytes con autonumeración: Entero largo"};
    if (t.table_type == 'S')
        return {data_type::long_integer, "4 bytes en una tabla propia de Access, que no usa Simple: Entero largo"};
    if (v.samples.empty())
        return {data_type::binary, "4 bytes sin valores que decidan entre Entero largo y Simple; se toma Binario, que "
                                   "conserva los bytes"};
    if (all_zero(v.samples))
        return {data_type::long_integer, "4 bytes cuyos valores son todos cero, que cualquier tipo numérico lee igual: "
                                         "Entero largo"};
    bool small_integers = true, floats = true;
    for (const auto& b : v.samples) {
        const int64_t i = as_int(b);
        const float f = as_float(b);
        if (i >= (1 << 24) || i <= -(1 << 24)) small_integers = false;
        // Longs past 2^24 read as floats mostly fall below 1e-6 (up to about 9 * 10^8).
        if (f != 0.0f && !(std::isnormal(f) && std::abs(f) >= 1e-6f)) floats = false;
    }
    if (!small_integers && floats) return {data_type::single, "4 bytes con valores de coma flotante: Simple"};
    return {data_type::long_integer, "4 bytes con valores enteros: Entero largo"};
}

// A one-byte fixed column: a Byte has a slot of its own in the fixed area, next to the
// others; a Yes/No keeps its value in the null mask and its offset lies over another
// column or past the fixed area of the rows.
TypeGuess one_byte(const TableDef& t, const Column& c, const ColumnValues& v) {
    if (!c.fixed()) return {data_type::byte, "1 byte de longitud variable: Byte"};
    bool adjoins = false;
    for (const Column& o : t.columns) {
        if (&o == &c || !o.fixed() || o.bit_only()) continue;
        const uint32_t end = o.fixed_offset + uint32_t(fixed_size(o));
        if (o.fixed_offset <= c.fixed_offset && c.fixed_offset < end)
            return {data_type::boolean, "1 byte fijo cuya posición ocupa otra columna: Sí/No"};
        if ((c.fixed_offset > 0 && end == c.fixed_offset) || o.fixed_offset == c.fixed_offset + 1u) adjoins = true;
    }
    if (v.outside_fixed > 0) return {data_type::boolean, "1 byte fijo fuera de la parte fija de las filas: Sí/No"};
    if (adjoins) return {data_type::byte, "1 byte fijo con posición propia junto a las demás columnas: Byte"};
    if (!v.samples.empty()) return {data_type::byte, "1 byte fijo con valores en la parte fija de las filas: Byte"};
    return {data_type::boolean, "1 byte fijo sin valores ni posición propia: Sí/No"};
}

// Access's own tables keep the same columns in every version: where their rows cannot
// tell (an empty table), the column's name does.
std::optional<TypeGuess> system_column(const Column& c) {
    struct Known {
        std::string_view name;
        uint8_t type;
    };
    static constexpr Known kKnown[] = {
        {"Connect", data_type::memo},      {"Database", data_type::memo},   {"Expression", data_type::memo},
        {"Lv", data_type::ole},            {"LvExtra", data_type::ole},     {"LvModule", data_type::ole},
        {"LvProp", data_type::ole},        {"RmtInfoLong", data_type::ole}, {"RmtInfoShort", data_type::binary},
        {"Order", data_type::binary},      {"Owner", data_type::binary},    {"SID", data_type::binary},
        {"Name", data_type::text},         {"Name1", data_type::text},      {"Name2", data_type::text},
        {"ForeignName", data_type::text},  {"szColumn", data_type::text},   {"szObject", data_type::text},
        {"szReferencedColumn", data_type::text}, {"szReferencedObject", data_type::text},
        {"szRelationship", data_type::text},
    };
    for (const Known& k : kKnown)
        if (k.name == c.name && (c.length == 0) == (k.type == data_type::memo || k.type == data_type::ole))
            return TypeGuess{k.type, "columna «" + c.name + "» de una tabla propia de Access, sin valores que lo decidan"};
    return std::nullopt;
}

TypeGuess variable(const TableDef& t, const Column& c, const Layout& l, const ColumnValues& v, bool indexed) {
    const bool compressed = !l.jet3 && (c.ext_flags & column_ext_flag::compressed_unicode);
    const bool all_text = v.values > 0 && v.text == v.values;
    if (c.length == 0) {
        if (c.flags & column_flag::hyperlink) return {data_type::memo, "valor largo marcado como hipervínculo: Memo"};
        if (compressed) return {data_type::memo, "valor largo con compresión Unicode: Memo"};
        if (indexed) return {data_type::memo, "valor largo usado por un índice: Memo"};
        if (all_text) return {data_type::memo, "valor largo cuyos valores son texto: Memo"};
        if (v.values > 0) return {data_type::ole, "valor largo con valores binarios: Objeto OLE"};
        if (t.table_type == 'S')
            if (auto known = system_column(c)) return *known;
        return {data_type::ole, "valor largo sin valores que lo decidan; se toma Objeto OLE, que conserva los bytes"};
    }
    if (compressed) return {data_type::text, "longitud variable con compresión Unicode: Texto"};
    if (all_text) return {data_type::text, "longitud variable cuyos valores son texto: Texto"};
    if (v.values > 0) return {data_type::binary, "longitud variable con valores binarios: Binario"};
    if (t.table_type == 'S')
        if (auto known = system_column(c)) return *known;
    return {data_type::binary, "longitud variable sin valores que lo decidan; se toma Binario, que conserva los bytes"};
}

struct Named {
    std::string_view suffix;
    uint8_t type;
};

// The tables Access keeps multi-valued fields in are named after the type of their one
// "Value" column; where they hold no rows, the name tells it.
std::optional<TypeGuess> complex_value_column(std::string_view table, const Column& c, const Layout& l) {
    constexpr std::string_view kPrefix = "MSysComplexType_";
    if (l.jet3 || table.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    if (table == "MSysComplexType_Attachment") {
        // The attachment template: its columns are named after what they hold.
        static constexpr Named kAttachment[] = {
            {"FileURL", data_type::memo},      {"FileTimeStamp", data_type::datetime}, {"FileType", data_type::text},
            {"FileFlags", data_type::long_integer}, {"FileData", data_type::ole},  {"FileName", data_type::text},
        };
        for (const Named& n : kAttachment)
            if (c.name == n.suffix)
                return TypeGuess{n.type, "columna «" + c.name + "» de la plantilla de adjuntos de Access, sin valores"};
        return std::nullopt;
    }
    if (c.name != "Value") return std::nullopt;
    static constexpr Named kNamed[] = {
        {"UnsignedByte", data_type::byte}, {"Short", data_type::integer},      {"Long", data_type::long_integer},
        {"IEEESingle", data_type::single}, {"IEEEDouble", data_type::double_}, {"GUID", data_type::guid},
        {"Decimal", data_type::decimal},   {"Text", data_type::text},
    };
    for (const Named& n : kNamed)
        if (table.substr(kPrefix.size()) == n.suffix)
            return TypeGuess{n.type, "columna «Value» de la tabla de Access " + std::string(table) +
                                         ", cuyo nombre dice su tipo"};
    return std::nullopt;
}

// Values stored in the variable area that all have the declared size: a number Access
// stored there, told as a fixed one of that size, when they are no text or read as
// numbers too well to be text of exactly that length (dates, amounts, small integers).
bool sized_values(const TableDef& t, const Column& c, const ColumnValues& v, uint8_t version_byte) {
    if (c.fixed() || v.samples.empty() || all_zero(v.samples) || (c.ext_flags & column_ext_flag::compressed_unicode))
        return false;
    if (!std::all_of(v.samples.begin(), v.samples.end(), [&](const auto& b) { return b.size() == c.length; }))
        return false;
    if (v.text < v.values) return true;
    if (c.length == 8) {
        const uint8_t type = eight_bytes(t, v, version_byte).type;
        return type == data_type::datetime || type == data_type::currency || type == data_type::big_int;
    }
    // Two characters of text read as a long are at least 0x200000 (the second one's code).
    if (c.length == 4)
        return std::all_of(v.samples.begin(), v.samples.end(), [](const auto& b) {
            const int64_t i = as_int(b);
            return i < 0x200000 && i > -0x200000;
        });
    return false;
}

bool indexed(const TableDef& t, const Column& c) {
    for (const RealIndex& r : t.real_indexes)
        for (const IndexColumn& ic : r.columns)
            if (ic.number == c.number) return true;
    return false;
}

}  // namespace

bool complex_column_listed(Database& db, uint32_t tdef_page, const std::string& column) {
    for (const CatalogEntry& e : db.catalog().entries) {
        if (e.name != "MSysComplexColumns" || e.type != object_type::table || e.tdef_page() >= db.file().page_count())
            continue;
        const TableDefResult& read = db.table_def(e.tdef_page());
        if (!read.table || !read.table->complete) return false;
        const TableDef& t = *read.table;
        std::optional<size_t> name_at, table_at;
        for (size_t i = 0; i < t.columns.size(); ++i) {
            if (t.columns[i].name == "ColumnName") name_at = i;
            if (t.columns[i].name == "ConceptualTableID") table_at = i;
        }
        if (!name_at || !table_at) return false;
        bool listed = false;
        Faults faults;
        db.scan_rows(t, e.name, [&](const RowLocation&, std::vector<Value>&& values) {
            const auto* name = std::get_if<std::string>(&values[*name_at]);
            const auto* table = std::get_if<int32_t>(&values[*table_at]);
            if (name && table && *name == column && uint32_t(*table) == tdef_page) listed = true;
        }, faults);
        return listed;
    }
    return false;
}

bool type_known_for(uint8_t type, uint8_t version_byte, const Layout& layout) {
    if (type < data_type::boolean || type > data_type::datetime_ext) return false;
    // A version byte that does not match the page layout is damaged: no judgment.
    if (layout_for_version(version_byte) != &layout) return true;
    if (type == data_type::decimal) return version_byte >= 0x01;
    if (type == data_type::complex) return version_byte >= 0x02;
    if (type == data_type::big_int) return version_byte >= 0x05;
    if (type == data_type::datetime_ext) return version_byte >= 0x06;
    return true;
}

ColumnValues column_values(const PageFile& file, const Layout& layout, const TableDef& table, const Column& column,
                           uint16_t code_page) {
    ColumnValues out;
    Column as_text = column;
    as_text.type = column.length == 0 ? data_type::memo : data_type::text;
    const DecodeContext context{&file, &layout, code_page};
    RowFrame frame;
    Field field;
    size_t rows = 0;
    for (uint32_t n = 1; n < file.page_count() && rows < kSampledRows; ++n) {
        const PageRef bytes = file.fetch(n);
        const DataPage page(bytes, layout);
        if (!page.is_data_page() || page.is_lval() || page.owner() != table.page) continue;
        for (uint16_t i = 0; i < page.row_count() && rows < kSampledRows; ++i) {
            const Bytes row = locate_row(file, page, table.page, i);
            if (row.empty() || frame.load(table, layout, row) != RowFrame::Status::Ok) continue;
            ++rows;
            const RowFrame::Locate at = frame.locate(column, field);
            if (at == RowFrame::Locate::FixedOutside) ++out.outside_fixed;
            if (!field.present || field.bytes.empty()) continue;
            ++out.values;
            if (out.samples.size() < kSampledValues) out.samples.emplace_back(field.bytes.begin(), field.bytes.end());
            if (text_value(as_text, field, context, layout)) ++out.text;
        }
    }
    return out;
}

TypeGuess guess_column_type(const TableDef& t, std::string_view table_name, const Column& c, const Layout& l,
                            uint8_t version_byte, const ColumnValues& v) {
    if (v.values == 0)
        if (auto named = complex_value_column(table_name, c, l)) return *named;
    if (!c.fixed() && !sized_values(t, c, v, version_byte)) return variable(t, c, l, v, indexed(t, c));
    if (c.flags & column_flag::auto_guid) return {data_type::guid, "16 bytes con identificador automático: Id. de réplica"};
    switch (c.length) {
        case 1: return one_byte(t, c, v);
        case 2: return {data_type::integer, "2 bytes: Entero"};
        case 4: return four_bytes(t, c, v);
        case 8: return eight_bytes(t, v, version_byte);
        case 16: return {data_type::guid, "16 bytes: Id. de réplica"};
        case 17:
            if (!l.jet3) return {data_type::decimal, "17 bytes: Decimal"};
            break;
        case 42:
            if (type_known_for(data_type::datetime_ext, version_byte, l))
                return {data_type::datetime_ext, "42 bytes: Fecha/Hora extendida"};
            break;
        default: break;
    }
    if (v.values > 0 && v.text == v.values)
        return {data_type::text, std::to_string(c.length) + " bytes fijos cuyos valores son texto: Texto"};
    return {data_type::binary, std::to_string(c.length) + " bytes, tamaño de ningún tipo numérico: Binario, que conserva los bytes"};
}

}  // namespace jet
