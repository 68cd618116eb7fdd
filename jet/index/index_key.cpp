#include "jet/index/index_key.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "jet/base/format.h"

namespace jet::index_key {
namespace {

constexpr uint8_t kAscStart = 0x7F;
constexpr uint8_t kDescStart = 0x80;
constexpr uint8_t kAscNull = 0x00;
constexpr uint8_t kDescNull = 0xFF;

constexpr uint16_t kGeneralLcid = 1033;

void invert(Key& key, size_t from) {
    for (size_t i = from; i < key.size(); ++i) key[i] = static_cast<uint8_t>(~key[i]);
}

void start(Key& key, bool ascending) { key.push_back(ascending ? kAscStart : kDescStart); }

// Appends the flag byte and the `W` low bytes of `value`, most significant first (the
// width known here, the byte moves unroll; keys reuse one buffer, so rarely reallocate).
template <unsigned W>
void append_segment(Key& key, bool ascending, uint64_t value) {
    key.push_back(ascending ? kAscStart : kDescStart);
    for (unsigned i = 0; i < W; ++i) key.push_back(static_cast<uint8_t>(value >> (8 * (W - 1 - i))));
}

// Two's complement of `W` bytes: the sign bit flipped so that negative < positive bytewise.
template <unsigned W>
void append_integer_bits(Key& key, uint64_t value, bool ascending) {
    value ^= uint64_t{1} << (8 * W - 1);
    append_segment<W>(key, ascending, ascending ? value : ~value);
}

// Floating point: positive values get their sign bit flipped, negative ones are inverted,
// so that the bytes order like the numbers.
template <unsigned W>
void append_float_bits(Key& key, uint64_t bits, bool ascending) {
    const uint64_t sign = uint64_t{1} << (8 * W - 1);
    const bool negative = bits & sign;
    if (!negative) bits ^= sign;
    append_segment<W>(key, ascending, negative == ascending ? ~bits : bits);
}

// The `W` bytes at `p`, little-endian.
template <unsigned W>
uint64_t load_le(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v = 0;
        std::memcpy(&v, p, W);  // one load
        return v;
    } else {
        uint64_t v = 0;
        for (unsigned i = W; i-- > 0;) v = (v << 8) | p[i];
        return v;
    }
}

std::u16string_view key_text(std::u16string_view text) {
    text = text.substr(0, std::min(text.size(), kMaxTextKeyChars));
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return text;
}

// General 97 codes of the letters that hold a placeholder before a later accent.
bool significant_97_code(uint8_t code) {
    static const std::array<bool, 256> codes = [] {
        std::array<bool, 256> out{};
        for (char16_t c = 0; c < 0x100; ++c) {
            const CharCode& cc = char_code(TextSortOrder::General97, c);
            if (cc.cls == CharClass::Significant && cc.code_len == 1) out[cc.code[0]] = true;
        }
        return out;
    }();
    return codes[code];
}

// A ligature (ß, æ, œ) counts as the letters its code spells: Access writes a placeholder
// for each significant one.
size_t significant_letters_97(const CharCode& cc) {
    size_t n = 0;
    for (uint8_t i = 0; i < cc.code_len; ++i) n += significant_97_code(cc.code[i]);
    return n;
}

// General 97 (Jet 3): inline codes, then a nibble stream of the extra codes of
// international characters, or a single 00.
void append_text_97(Key& key, std::u16string_view text, bool ascending) {
    size_t from = key.size();
    std::vector<uint8_t> nibbles;
    bool any_extra = false;
    size_t significant = 0;
    for (char16_t c : text) {
        const CharCode& cc = char_code(TextSortOrder::General97, c);
        if (cc.cls == CharClass::Ignored) continue;
        key.insert(key.end(), cc.code, cc.code + cc.code_len);
        if (cc.cls == CharClass::Simple) {
            if (cc.code_len > 1) significant += significant_letters_97(cc);
            continue;
        }
        if (cc.cls == CharClass::Significant) {
            ++significant;
            continue;
        }
        if (cc.extra_len == 0) continue;
        if (!any_extra) {
            any_extra = true;
            nibbles.push_back(0);
        }
        nibbles.insert(nibbles.end(), significant, 2);  // placeholders for significant chars
        significant = 0;
        nibbles.push_back(cc.extra[0] & 0x0F);
    }
    if (any_extra) {
        nibbles.push_back(0);
        for (size_t i = 0; i < nibbles.size(); i += 2) {
            uint8_t low = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
            key.push_back(static_cast<uint8_t>((nibbles[i] << 4) | low));
        }
    } else {
        key.push_back(0x00);
    }
    if (!ascending) invert(key, from);
}

// General Legacy and General: inline codes, 01, then the extra codes, the "crazy" flags
// and the unprintable characters when present, then 00.
class GeneralTextKey {
public:
    GeneralTextKey(Key& key, TextSortOrder order) : key_(key), order_(order) {}

    void append(std::u16string_view text, bool ascending) {
        size_t from = key_.size();
        const CharCode* table = char_code_table(order_);
        if (table && append_simple(text, table)) {
            // Inline codes only: no extra codes, flags or unprintable characters follow.
            key_.push_back(0x01);
            if (!ascending) {
                key_.push_back(0x00);
                invert(key_, from);
            }
            key_.push_back(0x00);
            return;
        }
        key_.resize(from);
        size_t char_offset = 0;  // counts sort elements of the inline codes
        for (char16_t c : text) {
            const CharCode& cc = table ? table[c] : char_code(order_, c);
            size_t here = char_offset;
            bool has_inline = cc.cls == CharClass::Simple || cc.cls == CharClass::International ||
                              cc.cls == CharClass::InternationalExt ||
                              cc.cls == CharClass::Significant;
            if (has_inline) {
                for (uint8_t i = 0; i < cc.code_len; ++i) key_.push_back(cc.code[i]);
                char_offset += cc.elements;
            }
            uint8_t modifier = cc.cls == CharClass::UnprintableExt ? cc.extra[0] : 0;
            bool has_extra = cc.cls != CharClass::UnprintableExt && cc.extra_len > 0;
            if (has_extra || modifier != 0)
                add_extra(here, cc, has_extra, modifier);
            else if (has_inline && extra_started_)
                extra_.push_back(0x02);  // once extra codes run, a placeholder per character
            if (cc.cls == CharClass::Unprintable) add_unprintable(here, cc);
            if (cc.cls == CharClass::InternationalExt) crazy_.push_back(cc.crazy_first ? 2 : 3);
        }
        key_.push_back(0x01);
        finish_sections();
        if (!ascending) {
            key_.push_back(0x00);
            invert(key_, from);
        }
        key_.push_back(0x00);
    }

private:
    // Text of simple characters alone, the usual case: their inline codes; false at the
    // first other character (what was appended is then dropped by the caller).
    bool append_simple(std::u16string_view text, const CharCode* table) {
        for (char16_t c : text) {
            const CharCode& cc = table[c];
            if (cc.cls != CharClass::Simple) return false;
            for (uint8_t i = 0; i < cc.code_len; ++i) key_.push_back(cc.code[i]);
        }
        return true;
    }

    // Access writes the placeholders before the first extra code as one per sort element
    // (a ligature such as ß holds two), and from there on one per character, ligatures
    // included (measured in Jet 4 and ACE files).
    void add_extra(size_t char_offset, const CharCode& cc, bool has_extra, uint8_t modifier) {
        if (!extra_started_) {
            extra_.insert(extra_.end(), char_offset, 0x02);
            extra_started_ = true;
        }
        if (has_extra) {
            extra_.insert(extra_.end(), cc.extra, cc.extra + cc.extra_len);
        } else if (!extra_.empty()) {
            extra_.back() = static_cast<uint8_t>(extra_.back() + modifier);
        } else {
            extra_.push_back(modifier);
            unprintable_prefix_ = 1;
        }
    }

    void add_unprintable(size_t char_offset, const CharCode& cc) {
        // The position counts sort elements, or extra-code units once those have started.
        size_t pos = char_offset;
        if (extra_started_) pos = extra_.size() - unprintable_prefix_;
        uint16_t marker = static_cast<uint16_t>((7 + 4 * pos) | 0x8000);
        unprintable_.push_back(static_cast<uint8_t>(marker >> 8));
        unprintable_.push_back(static_cast<uint8_t>(marker));
        unprintable_.push_back(0x06);
        unprintable_.insert(unprintable_.end(), cc.code, cc.code + cc.code_len);
        has_unprintable_ = true;
    }

    void finish_sections() {
        // Trailing placeholders (and zero codes) carry no information.
        while (!extra_.empty() && extra_.back() <= 0x02) extra_.pop_back();
        bool has_crazy = !crazy_.empty();
        if (extra_.empty() && !has_unprintable_ && !has_crazy) return;
        key_.insert(key_.end(), extra_.begin(), extra_.end());
        if (!has_crazy && !has_unprintable_) return;
        key_.push_back(0x01);
        key_.push_back(0x01);
        if (has_crazy) {
            append_crazy();
            if (has_unprintable_) key_.push_back(0xFF);
        }
        if (has_unprintable_) {
            key_.push_back(0x01);
            key_.insert(key_.end(), unprintable_.begin(), unprintable_.end());
        }
    }

    // Flags packed three to a byte (two bits each under a 0x80 prefix); trailing 3s are
    // implied. The fixed suffix is written even when every flag was trimmed.
    void append_crazy() {
        while (!crazy_.empty() && crazy_.back() == 3) crazy_.pop_back();
        for (size_t i = 0; i < crazy_.size(); i += 3) {
            uint8_t b = 0x80;
            for (size_t j = 0; j < 3 && i + j < crazy_.size(); ++j)
                b |= static_cast<uint8_t>(crazy_[i + j] << (2 * (2 - j)));
            key_.push_back(b);
        }
        static constexpr uint8_t suffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
        key_.insert(key_.end(), std::begin(suffix), std::end(suffix));
    }

    Key& key_;
    TextSortOrder order_;
    std::vector<uint8_t> extra_;
    size_t unprintable_prefix_ = 0;
    bool extra_started_ = false;
    std::vector<uint8_t> unprintable_;
    bool has_unprintable_ = false;
    std::vector<uint8_t> crazy_;
};

}  // namespace

std::optional<TextSortOrder> text_sort_order(uint16_t lcid, uint8_t sort_version,
                                             uint8_t db_version_byte) {
    bool jet3 = db_version_byte == 0x00;
    if (lcid == 0) {
        // No sort order recorded: the default of the file format.
        if (jet3) return TextSortOrder::General97;
        return db_version_byte <= 0x02 ? TextSortOrder::GeneralLegacy : TextSortOrder::General;
    }
    if (lcid != kGeneralLcid) return std::nullopt;
    if (jet3) return TextSortOrder::General97;
    if (sort_version == 0) return TextSortOrder::GeneralLegacy;
    if (sort_version == 1) return TextSortOrder::General;
    return std::nullopt;
}

bool indexable_type(uint8_t type) {
    switch (type) {
        case data_type::boolean:
        case data_type::byte:
        case data_type::integer:
        case data_type::long_integer:
        case data_type::currency:
        case data_type::single:
        case data_type::double_:
        case data_type::datetime:
        case data_type::binary:
        case data_type::text:
        case data_type::memo:
        case data_type::guid:
        case data_type::decimal:
        case data_type::complex:
        case data_type::big_int:
        case data_type::datetime_ext:
            return true;
        default:
            return false;
    }
}

void append_null(Key& key, bool ascending) { key.push_back(ascending ? kAscNull : kDescNull); }

void append_boolean(Key& key, bool value, bool ascending) {
    append_segment<1>(key, ascending, value == ascending ? 0x00 : 0xFF);
}

void append_byte(Key& key, uint8_t value, bool ascending) {
    append_segment<1>(key, ascending, ascending ? value : static_cast<uint8_t>(~value));
}

void append_integer(Key& key, int64_t value, unsigned width, bool ascending) {
    const auto bits = static_cast<uint64_t>(value);
    switch (width) {
        case 1: return append_integer_bits<1>(key, bits, ascending);
        case 2: return append_integer_bits<2>(key, bits, ascending);
        case 4: return append_integer_bits<4>(key, bits, ascending);
        default: return append_integer_bits<8>(key, bits, ascending);
    }
}

void append_single(Key& key, float value, bool ascending) {
    append_float_bits<4>(key, std::bit_cast<uint32_t>(value), ascending);
}

void append_double(Key& key, double value, bool ascending) {
    append_float_bits<8>(key, std::bit_cast<uint64_t>(value), ascending);
}

void append_decimal(Key& key, std::span<const uint8_t, 17> stored, bool ascending,
                    bool legacy_rule) {
    start(key, ascending);
    size_t from = key.size();
    key.push_back(stored[0]);
    for (size_t word = 0; word < 4; ++word)
        for (size_t i = 4; i-- > 0;) key.push_back(stored[1 + 4 * word + i]);
    bool negative = stored[0] & 0x80;
    if (legacy_rule) {
        if (negative == ascending) invert(key, from);
        key[from] = negative ? 0x00 : 0xFF;
    } else {
        key[from] = 0xFF;
        if (negative == ascending) invert(key, from);
    }
}

void append_binary(Key& key, std::span<const uint8_t> value, bool ascending) {
    start(key, ascending);
    // Groups of eight bytes, each followed by 09 ("more follows") or, for the last
    // group, its real length; descending inverts everything but the 09 markers.
    size_t pos = 0;
    while (value.size() - pos > 8) {
        size_t from = key.size();
        key.insert(key.end(), value.begin() + pos, value.begin() + pos + 8);
        if (!ascending) invert(key, from);
        key.push_back(0x09);
        pos += 8;
    }
    size_t rest = value.size() - pos;
    if (rest == 0) return;
    size_t from = key.size();
    key.insert(key.end(), value.begin() + pos, value.end());
    key.insert(key.end(), 8 - rest, 0x00);
    key.push_back(static_cast<uint8_t>(rest));
    if (!ascending) invert(key, from);
}

void append_guid(Key& key, std::span<const uint8_t, 16> stored, bool ascending) {
    uint8_t bytes[16];
    std::memcpy(bytes, stored.data(), 16);
    std::reverse(bytes, bytes + 4);
    std::reverse(bytes + 4, bytes + 6);
    std::reverse(bytes + 6, bytes + 8);
    append_binary(key, bytes, ascending);
}

void append_ext_datetime(Key& key, std::span<const uint8_t, 42> stored, bool ascending) {
    start(key, ascending);
    uint8_t mask = ascending ? 0x00 : 0xFF;
    for (size_t i = 0; i < 42; ++i) {
        key.push_back(static_cast<uint8_t>(stored[i] ^ mask));
        if (i % 8 == 7 && i < 40) key.push_back(0x09);
    }
    static constexpr uint8_t trailer[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02};
    for (uint8_t b : trailer) key.push_back(static_cast<uint8_t>(b ^ mask));
}

void append_text(Key& key, std::u16string_view text, TextSortOrder order, bool ascending) {
    start(key, ascending);
    text = key_text(text);
    if (order == TextSortOrder::General97) {
        append_text_97(key, text, ascending);
    } else {
        GeneralTextKey(key, order).append(text, ascending);
    }
}

bool append_fixed(Key& key, uint8_t type, std::span<const uint8_t> stored, bool ascending,
                  bool legacy_decimal) {
    auto need = [&](size_t n) { return stored.size() >= n; };
    const uint8_t* p = stored.data();
    switch (type) {
        case data_type::byte:
            if (!need(1)) return false;
            append_byte(key, stored[0], ascending);
            return true;
        case data_type::integer:
            if (!need(2)) return false;
            append_integer_bits<2>(key, load_le<2>(p), ascending);
            return true;
        case data_type::long_integer:
        case data_type::complex:
            if (!need(4)) return false;
            append_integer_bits<4>(key, load_le<4>(p), ascending);
            return true;
        case data_type::currency:
        case data_type::big_int:
            if (!need(8)) return false;
            append_integer_bits<8>(key, load_le<8>(p), ascending);
            return true;
        case data_type::single:
            if (!need(4)) return false;
            append_float_bits<4>(key, load_le<4>(p), ascending);
            return true;
        case data_type::double_:
        case data_type::datetime:
            if (!need(8)) return false;
            append_float_bits<8>(key, load_le<8>(p), ascending);
            return true;
        case data_type::guid:
            if (!need(16)) return false;
            append_guid(key, stored.first<16>(), ascending);
            return true;
        case data_type::decimal:
            if (!need(17)) return false;
            append_decimal(key, stored.first<17>(), ascending, legacy_decimal);
            return true;
        case data_type::datetime_ext:
            if (!need(42)) return false;
            append_ext_datetime(key, stored.first<42>(), ascending);
            return true;
        default:
            return false;
    }
}

namespace {

// The flag byte and `W` value bytes, most significant first, in as few stores as the
// machine allows (later wide loads of them then see whole stores); up to 8 bytes past
// `out` may be written.
template <unsigned W>
void put_segment(uint8_t* out, bool ascending, uint64_t value) {
    const uint8_t flag = ascending ? kAscStart : kDescStart;
    if constexpr (std::endian::native == std::endian::little && W < 8) {
        const uint64_t big = __builtin_bswap64(value << (64 - 8 * W));  // value bytes first in memory
        const uint64_t both = flag | (big << 8);
        std::memcpy(out, &both, 8);
    } else if constexpr (std::endian::native == std::endian::little) {
        const uint64_t big = __builtin_bswap64(value);
        out[0] = flag;
        std::memcpy(out + 1, &big, 8);
    } else {
        out[0] = flag;
        for (unsigned i = 0; i < W; ++i) out[1 + i] = static_cast<uint8_t>(value >> (8 * (W - 1 - i)));
    }
}

// The rules of append_integer_bits and append_float_bits, written in place.
template <unsigned W>
void write_integer(uint8_t* out, const uint8_t* stored, bool ascending) {
    const uint64_t value = load_le<W>(stored) ^ (uint64_t{1} << (8 * W - 1));
    put_segment<W>(out, ascending, ascending ? value : ~value);
}

template <unsigned W>
void write_float(uint8_t* out, const uint8_t* stored, bool ascending) {
    const uint64_t sign = uint64_t{1} << (8 * W - 1);
    uint64_t bits = load_le<W>(stored);
    const bool negative = bits & sign;
    if (!negative) bits ^= sign;
    put_segment<W>(out, ascending, negative == ascending ? ~bits : bits);
}

void write_byte(uint8_t* out, const uint8_t* stored, bool ascending) {
    put_segment<1>(out, ascending, ascending ? stored[0] : static_cast<uint8_t>(~stored[0]));
}

}  // namespace

FixedWriter fixed_writer(uint8_t type) {
    switch (type) {
        case data_type::byte: return write_byte;
        case data_type::integer: return write_integer<2>;
        case data_type::long_integer:
        case data_type::complex: return write_integer<4>;
        case data_type::currency:
        case data_type::big_int: return write_integer<8>;
        case data_type::single: return write_float<4>;
        case data_type::double_:
        case data_type::datetime: return write_float<8>;
        default: return nullptr;
    }
}

unsigned fixed_writer_width(uint8_t type) {
    switch (type) {
        case data_type::byte: return 1;
        case data_type::integer: return 2;
        case data_type::long_integer:
        case data_type::complex:
        case data_type::single: return 4;
        case data_type::currency:
        case data_type::big_int:
        case data_type::double_:
        case data_type::datetime: return 8;
        default: return 0;
    }
}

}  // namespace jet::index_key
