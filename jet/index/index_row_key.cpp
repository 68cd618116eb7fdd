#include "jet/index/index_row_key.h"

#include <algorithm>
#include <cstring>

#include "jet/base/byte_runs.h"
#include "jet/base/text.h"

namespace jet {
namespace {

constexpr size_t kJet4SortVersionOffset = 3;  // after the u16 LCID and one unknown byte

std::string column_text(const Column& c) { return "«" + c.name + "»"; }

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
        IndexKeyPart part{static_cast<size_t>(it - table.columns.begin()), ic.ascending, std::nullopt,
                          c.type == data_type::boolean};
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

namespace {

bool append_value(index_key::Key& key, const Value& v, const IndexKeyPart& part, bool legacy_decimal) {
    const bool asc = part.ascending;
    if (part.text_order) {
        const auto* s = std::get_if<std::string>(&v);
        if (!s) return false;
        index_key::append_text(key, utf8_to_utf16(*s), *part.text_order, asc);
        return true;
    }
    if (const auto* b = std::get_if<uint8_t>(&v)) index_key::append_byte(key, *b, asc);
    else if (const auto* i16 = std::get_if<int16_t>(&v)) index_key::append_integer(key, *i16, 2, asc);
    else if (const auto* i32 = std::get_if<int32_t>(&v)) index_key::append_integer(key, *i32, 4, asc);
    else if (const auto* i64 = std::get_if<int64_t>(&v)) index_key::append_integer(key, *i64, 8, asc);
    else if (const auto* c = std::get_if<Currency>(&v)) index_key::append_integer(key, c->scaled, 8, asc);
    else if (const auto* f = std::get_if<float>(&v)) index_key::append_single(key, *f, asc);
    else if (const auto* d = std::get_if<double>(&v)) index_key::append_double(key, *d, asc);
    else if (const auto* t = std::get_if<DateTime>(&v)) index_key::append_double(key, t->days, asc);
    else if (const auto* g = std::get_if<Guid>(&v)) index_key::append_guid(key, g->bytes, asc);
    else if (const auto* bin = std::get_if<Binary>(&v)) index_key::append_binary(key, bin->bytes, asc);
    else if (const auto* dec = std::get_if<Decimal>(&v)) {
        uint8_t stored[17] = {};
        stored[0] = dec->negative ? 0x80 : 0x00;
        for (size_t w = 0; w < 4; ++w)
            for (size_t i = 0; i < 4; ++i) stored[1 + 4 * w + i] = static_cast<uint8_t>(dec->words[w] >> (8 * i));
        index_key::append_decimal(key, stored, asc, legacy_decimal);
    } else if (const auto* x = std::get_if<ExtendedDateTime>(&v)) {
        uint8_t stored[42] = {};  // ASCII as stored, NUL-padded
        if (x->ascii.size() > sizeof stored) return false;
        std::memcpy(stored, x->ascii.data(), x->ascii.size());
        index_key::append_ext_datetime(key, stored, asc);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::optional<RowKey> row_key(const IndexKeyPlan& plan, const std::vector<Value>& values) {
    if (!plan.encodable) return std::nullopt;
    RowKey out;
    for (const IndexKeyPart& part : plan.parts) {
        if (part.column_pos >= values.size()) return std::nullopt;
        const Value& v = values[part.column_pos];
        if (const auto* b = std::get_if<bool>(&v)) {
            out.all_null = false;  // booleans are never NULL in a key
            index_key::append_boolean(out.key, *b, part.ascending);
            continue;
        }
        if (is_null(v)) {
            if (part.is_boolean) {
                out.all_null = false;
                index_key::append_boolean(out.key, false, part.ascending);
            } else {
                index_key::append_null(out.key, part.ascending);
            }
            continue;
        }
        out.all_null = false;
        if (!append_value(out.key, v, part, plan.legacy_decimal)) return std::nullopt;
    }
    return out;
}

}  // namespace jet

namespace jet {
namespace {

// Fixed-size types whose stored bytes index_key::append_fixed encodes exactly as the
// decoded value would be. Decimal and extended date/time go through their values: the
// decoded forms normalise bytes (sign byte, text after a NUL) the raw bytes keep.
bool raw_fixed_key(const Column& c) {
    if (c.calculated() || !c.fixed()) return false;
    switch (c.type) {
        case data_type::byte:
        case data_type::integer:
        case data_type::long_integer:
        case data_type::complex:
        case data_type::currency:
        case data_type::big_int:
        case data_type::single:
        case data_type::double_:
        case data_type::datetime:
        case data_type::guid: return true;
        default: return false;
    }
}

}  // namespace

bool StoredRowKeys::load(Bytes row) {
    ignored_.clear();
    frame_.load(table_, context_.layout ? *context_.layout : kJet4Layout, row);
    return frame_.usable();
}

namespace {

constexpr size_t kMaxPlansKept = 64;

bool same_parts(const std::vector<IndexKeyPart>& a, const std::vector<IndexKeyPart>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const IndexKeyPart& x, const IndexKeyPart& y) {
        return x.column_pos == y.column_pos && x.ascending == y.ascending && x.text_order == y.text_order &&
               x.is_boolean == y.is_boolean;
    });
}

}  // namespace

StoredRowKeys::Steps StoredRowKeys::compile(const IndexKeyPlan& plan) const {
    Steps s;
    s.plan = &plan;
    s.parts = plan.parts;
    s.legacy_decimal = plan.legacy_decimal;
    for (const IndexKeyPart& part : plan.parts) {
        if (part.column_pos >= table_.columns.size()) {
            s.columns_exist = false;
            break;
        }
        Step step;
        step.column = &table_.columns[part.column_pos];
        if (raw_fixed_key(*step.column)) {
            step.fixed = index_key::fixed_writer(step.column->type);
            step.width = index_key::fixed_writer_width(step.column->type);
            step.stored_size = fixed_size(*step.column);
        }
        s.steps.push_back(step);
    }
    return s;
}

const StoredRowKeys::Steps& StoredRowKeys::steps_for(const IndexKeyPlan& plan) {
    auto same = [&](const Steps& s) {
        return s.plan == &plan && s.legacy_decimal == plan.legacy_decimal && same_parts(s.parts, plan.parts);
    };
    if (last_plan_ < plans_.size() && same(plans_[last_plan_])) return plans_[last_plan_];
    for (size_t i = 0; i < plans_.size(); ++i)
        if (same(plans_[i])) return plans_[last_plan_ = i];
    if (plans_.size() >= kMaxPlansKept) plans_.clear();
    plans_.push_back(compile(plan));
    last_plan_ = plans_.size() - 1;
    return plans_.back();
}

size_t StoredRowKeys::prepare(const IndexKeyPlan& plan) {
    prepared_.push_back(compile(plan));
    return prepared_.size() - 1;
}

bool StoredRowKeys::key(const IndexKeyPlan& plan, index_key::Key& key, bool& all_null) {
    key.clear();
    all_null = true;
    if (!plan.encodable || !frame_.usable()) return false;
    size_t length = 0;
    const bool ok = encode(steps_for(plan), length, all_null);
    key.assign(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(length));
    return ok;
}

bool StoredRowKeys::key(size_t prepared, index_key::Key& key, bool& all_null) {
    std::span<const uint8_t> view;
    const bool ok = this->key(prepared, view, all_null);
    key.assign(view.begin(), view.end());
    return ok;
}

bool StoredRowKeys::key(size_t prepared, std::span<const uint8_t>& key, bool& all_null) {
    key = {};
    all_null = true;
    const Steps& steps = prepared_.at(prepared);
    if (!steps.plan->encodable || !frame_.usable()) return false;
    size_t length = 0;
    const bool ok = encode(steps, length, all_null);
    key = {bytes_.data(), length};
    return ok;
}

bool StoredRowKeys::encode(const Steps& steps, size_t& length, bool& all_null) {
    const IndexKeyPlan& plan = *steps.plan;
    length = 0;
    text_span_ = {};
    // A part encoded the general way is appended to what came before it.
    auto general = [&](const IndexKeyPart& part) {
        part_.clear();
        const bool ok = append_part(part, plan, part_, all_null);
        if (bytes_.size() < length + part_.size()) bytes_.resize(2 * (length + part_.size()));
        copy_short(bytes_.data() + length, part_.data(), part_.size());
        if (part.text_order && part_.size() > 1) {  // a text value, not a NULL flag
            if (text_span_.empty()) text_span_.begin = static_cast<uint32_t>(length + 1);
            text_span_.end = static_cast<uint32_t>(length + part_.size());
        }
        length += part_.size();
        return ok;
    };
    if (!steps.columns_exist) {
        for (const IndexKeyPart& part : plan.parts)
            if (!general(part)) return false;
        return true;
    }
    for (size_t k = 0; k < steps.steps.size(); ++k) {
        const Step& step = steps.steps[k];
        const IndexKeyPart& part = plan.parts[k];
        Bytes stored;
        if (step.fixed && frame_.fixed_bytes(*step.column, step.stored_size, stored) && stored.size() >= step.width) {
            // The common case, straight: a number or date stored in the fixed area.
            if (bytes_.size() < length + 9) bytes_.resize(2 * (length + 9) + 64);  // a writer's room
            step.fixed(bytes_.data() + length, stored.data(), part.ascending);
            length += 1 + step.width;
            all_null = false;
            continue;
        }
        if (!general(part)) return false;
    }
    return true;
}

bool StoredRowKeys::append_part(const IndexKeyPart& part, const IndexKeyPlan& plan, index_key::Key& key,
                                bool& all_null) {
    if (part.column_pos >= table_.columns.size()) return false;
    const Column& c = table_.columns[part.column_pos];
    Field f;
    frame_.locate(c, f);
    const bool asc = part.ascending;
    if (c.type == data_type::boolean) {
        all_null = false;  // booleans are never NULL in a key
        index_key::append_boolean(key, f.present && f.bit, asc);
        return true;
    }
    if (part.text_order && (c.type == data_type::text || c.type == data_type::memo)) {
        // NULL, and a memo whose long value cannot be read at all, key as NULL.
        if (!decode_field_text_utf16(c, f, context_, ignored_, units_)) {
            index_key::append_null(key, asc);
            return true;
        }
        all_null = false;
        index_key::append_text(key, units_, *part.text_order, asc);
        return true;
    }
    if (!f.present) {
        index_key::append_null(key, asc);
        return true;
    }
    if (raw_fixed_key(c)) {
        const size_t mark = key.size();
        if (index_key::append_fixed(key, c.type, f.bytes, asc, plan.legacy_decimal)) {
            all_null = false;
            return true;
        }
        key.resize(mark);
    }
    const Value v = decode_field(c, f, context_, ignored_);
    if (is_null(v)) {
        index_key::append_null(key, asc);
        return true;
    }
    all_null = false;
    return append_value(key, v, part, plan.legacy_decimal);
}

}  // namespace jet
