#include "jet/base/text.h"


namespace jet {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void decode_code_page_text_utf16(Bytes bytes, uint16_t code_page, std::u16string& out) {
    const char16_t* upper = code_page_upper_half(code_page);
    if (!upper) upper = code_page_upper_half(kDefaultCodePage);
    out.resize(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) out[i] = bytes[i] < 0x80 ? char16_t(bytes[i]) : upper[bytes[i] - 0x80];
}

std::u16string decode_code_page_text_utf16(Bytes bytes, uint16_t code_page) {
    std::u16string out;
    decode_code_page_text_utf16(bytes, code_page, out);
    return out;
}

std::string decode_code_page_text(Bytes bytes, uint16_t code_page) {
    return utf16_to_utf8(decode_code_page_text_utf16(bytes, code_page));
}

std::string utf16_to_utf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            append_utf8(out, 0xFFFD);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

void decode_ucs2_text_utf16(Bytes bytes, std::u16string& units) {
    units.clear();
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        units.reserve(bytes.size());
        bool compressed = true;
        size_t i = 2;
        while (i < bytes.size()) {
            if (bytes[i] == 0x00) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                units.push_back(bytes[i]);
                ++i;
            } else {
                if (i + 1 >= bytes.size()) break;
                units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
                i += 2;
            }
        }
    } else {
        units.resize(bytes.size() / 2);
        for (size_t k = 0; k < units.size(); ++k)
            units[k] = static_cast<char16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    }
}

std::u16string decode_ucs2_text_utf16(Bytes bytes) {
    std::u16string units;
    decode_ucs2_text_utf16(bytes, units);
    return units;
}

std::string decode_ucs2_text(Bytes bytes) { return utf16_to_utf8(decode_ucs2_text_utf16(bytes)); }

std::string decode_text(Bytes bytes, const Layout& layout, uint16_t code_page) {
    return layout.jet3 ? decode_code_page_text(bytes, code_page) : decode_ucs2_text(bytes);
}

std::u16string decode_text_utf16(Bytes bytes, const Layout& layout, uint16_t code_page) {
    return layout.jet3 ? decode_code_page_text_utf16(bytes, code_page) : decode_ucs2_text_utf16(bytes);
}

void decode_text_utf16(Bytes bytes, const Layout& layout, uint16_t code_page, std::u16string& out) {
    if (layout.jet3)
        decode_code_page_text_utf16(bytes, code_page, out);
    else
        decode_ucs2_text_utf16(bytes, out);
}

}  // namespace jet
