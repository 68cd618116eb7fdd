#include "jet/index/index_codes.h"

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "jet/index/index_codes_data.h"

namespace jet {
namespace {

std::vector<uint8_t> decode_base64(std::string_view text) {
    auto value_of = [](char ch) -> int {
        if (ch >= 'A' && ch <= 'Z') return ch - 'A';
        if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
        if (ch >= '0' && ch <= '9') return ch - '0' + 52;
        if (ch == '+') return 62;
        if (ch == '/') return 63;
        return -1;
    };
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    for (char ch : text) {
        if (ch == '=') break;
        int v = value_of(ch);
        if (v < 0) throw std::logic_error("index code table: bad base64");
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return out;
}

// Reader of the run records written by scripts/gen_index_codes.py.
class RunReader {
public:
    explicit RunReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool done() const { return pos_ >= bytes_.size(); }
    uint8_t byte() {
        if (pos_ >= bytes_.size()) throw std::logic_error("index code table: truncated");
        return bytes_[pos_++];
    }
    uint64_t varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            uint8_t b = byte();
            value |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return value;
        }
        throw std::logic_error("index code table: bad varint");
    }
    int64_t signed_varint() {
        uint64_t z = varint();
        return (z & 1) ? -static_cast<int64_t>((z + 1) >> 1) : static_cast<int64_t>(z >> 1);
    }
    uint64_t big_endian(unsigned len) {
        uint64_t value = 0;
        for (unsigned i = 0; i < len; ++i) value = (value << 8) | byte();
        return value;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

void put_big_endian(uint8_t* out, unsigned len, uint64_t value) {
    for (unsigned i = len; i-- > 0;) {
        out[i] = static_cast<uint8_t>(value);
        value >>= 8;
    }
}

std::vector<CharCode> unpack(const char* text, size_t size, size_t expected) {
    RunReader in(decode_base64(std::string_view(text, size)));
    std::vector<CharCode> table;
    table.reserve(expected);
    while (!in.done()) {
        uint64_t count = in.varint();
        uint8_t head = in.byte();
        uint8_t lens = in.byte();
        CharCode proto;
        proto.cls = static_cast<CharClass>(head & 0x07);
        proto.crazy_first = (head >> 3) & 1;
        proto.elements = static_cast<uint8_t>(((head >> 4) & 3) + 1);
        proto.code_len = lens & 0x0F;
        proto.extra_len = lens >> 4;
        if (proto.code_len > sizeof proto.code || proto.extra_len > sizeof proto.extra ||
            (head & 0x07) > 6 || (head & 0xC0) || count == 0 || count > expected - table.size())
            throw std::logic_error("index code table: bad run");
        uint64_t code = in.big_endian(proto.code_len);
        uint64_t extra = in.big_endian(proto.extra_len);
        int64_t code_step = 0, extra_step = 0;
        if (count > 1) {
            code_step = in.signed_varint();
            extra_step = in.signed_varint();
        }
        for (uint64_t k = 0; k < count; ++k) {
            CharCode entry = proto;
            put_big_endian(entry.code, entry.code_len, code + k * static_cast<uint64_t>(code_step));
            put_big_endian(entry.extra, entry.extra_len,
                           extra + k * static_cast<uint64_t>(extra_step));
            table.push_back(entry);
        }
    }
    if (table.size() != expected) throw std::logic_error("index code table: wrong length");
    return table;
}

const std::vector<CharCode>& general_legacy_table() {
    static const std::vector<CharCode> table = unpack(
        index_codes_data::general_legacy_runs, index_codes_data::general_legacy_runs_size, 0x10000);
    return table;
}

const std::vector<CharCode>& general_table() {
    static const std::vector<CharCode> table =
        unpack(index_codes_data::general_runs, index_codes_data::general_runs_size, 0x10000);
    return table;
}

const std::vector<CharCode>& general_97_table() {
    static const std::vector<CharCode> table = [] {
        std::vector<CharCode> t = unpack(index_codes_data::general_97_runs, index_codes_data::general_97_runs_size, 0x100);
        // Access codes a stored NUL like the other control characters (MSysModules2 keys of
        // Jet 3 files); the measured table has it ignored.
        t[0] = t[1];
        return t;
    }();
    return table;
}

const CharCode& general_97_code(char16_t c) {
    static const CharCode ignored{};
    const auto& base = general_97_table();
    if (c <= 0xFF) return base[c];
    // Few characters above U+00FF have a single-byte equivalent; the rest are ignored.
    const auto* first = index_codes_data::general_97_mappings;
    const auto* last = first + index_codes_data::general_97_mappings_size;
    const auto* it = std::lower_bound(first, last, c, [](const index_codes_data::CharMapping& m,
                                                         char16_t v) { return m.from < v; });
    if (it != last && it->from == c) return base[it->to];
    return ignored;
}

}  // namespace

const CharCode& char_code(TextSortOrder order, char16_t c) {
    switch (order) {
        case TextSortOrder::General97:
            return general_97_code(c);
        case TextSortOrder::GeneralLegacy:
            return general_legacy_table()[c];
        case TextSortOrder::General:
            return general_table()[c];
    }
    return general_97_code(c);
}

const CharCode* char_code_table(TextSortOrder order) {
    switch (order) {
        case TextSortOrder::GeneralLegacy: return general_legacy_table().data();
        case TextSortOrder::General: return general_table().data();
        case TextSortOrder::General97: break;
    }
    return nullptr;
}

}  // namespace jet
