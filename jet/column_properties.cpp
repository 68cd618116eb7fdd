#include "jet/column_properties.h"

#include <algorithm>

#include "jet/text.h"

namespace jet {
namespace {

// Property blobs: "MR2\0", then chunks of u32 length (header included) and u16 kind. Kind
// 0x80 lists the property names (u16 byte length, UTF-16 name each); the other kinds are
// property blocks: u32 length of the block's name part, u16 + UTF-16 name, then entries
// of u16 length (itself included), u8 DDL flag, u8 type, u16 name index, u16 size, data.
constexpr uint8_t kMagic[4] = {'M', 'R', '2', 0};
constexpr uint16_t kNameList = 0x80;

bool read_name(Bytes b, size_t& at, std::string& out) {
    if (at + 2 > b.size()) return false;
    const size_t n = u16_at(b, at);
    if (at + 2 + n > b.size()) return false;
    out = decode_ucs2_text(b.subspan(at + 2, n));
    at += 2 + n;
    return true;
}

std::vector<std::string> names_of(Bytes chunk) {
    std::vector<std::string> names;
    for (size_t at = 0; at < chunk.size();) {
        std::string name;
        if (!read_name(chunk, at, name)) break;
        names.push_back(std::move(name));
    }
    return names;
}

void result_type_of(Bytes block, const std::vector<std::string>& names,
                    std::vector<std::pair<std::string, uint8_t>>& out) {
    if (block.size() < 4) return;
    const size_t name_part = u32_at(block, 0);
    if (name_part < 4 || name_part > block.size()) return;
    std::string column;
    size_t at = 4;
    if (name_part > 6 && !read_name(block.first(name_part), at, column)) return;
    for (at = name_part; at + 8 <= block.size();) {
        const size_t length = u16_at(block, at);
        if (length < 8 || at + length > block.size()) return;
        const uint8_t type = block[at + 3];
        const size_t name_index = u16_at(block, at + 4), size = u16_at(block, at + 6);
        if (name_index < names.size() && names[name_index] == "ResultType" && type == 2 /* byte */ && size == 1 &&
            8 + size <= length)
            out.emplace_back(column, block[at + 8]);
        at += length;
    }
}

}  // namespace

std::vector<std::pair<std::string, uint8_t>> calculated_result_types(Bytes blob) {
    std::vector<std::pair<std::string, uint8_t>> out;
    if (blob.size() < 4 || !std::equal(blob.begin(), blob.begin() + 4, kMagic)) return out;
    std::vector<std::string> names;
    for (size_t at = 4; at + 6 <= blob.size();) {
        const size_t length = u32_at(blob, at);
        if (length < 6 || length > blob.size() - at) break;
        const Bytes chunk = blob.subspan(at + 6, length - 6);
        if (u16_at(blob, at + 4) == kNameList)
            names = names_of(chunk);
        else
            result_type_of(chunk, names, out);
        at += length;
    }
    return out;
}

}  // namespace jet
