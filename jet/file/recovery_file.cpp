#include "jet/file/recovery_file.h"

#include <span>

namespace jet {

namespace fs = std::filesystem;

namespace {

constexpr unsigned max_name_attempts = 1000;

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one.
std::size_t utf8_sequence(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    else return 0;
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string json_string(const std::string& text) {
    static const char* const hex = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8_sequence(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text, i, length);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
        i += length;
    }
    return out + "\"";
}

std::string hex_bytes(const std::vector<uint8_t>& bytes) {
    static const char* const hex = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 0xF];
    }
    return out;
}

}  // namespace

fs::path recovery_name(const fs::path& database, unsigned n) {
    const std::string number = n <= 1 ? std::string() : " " + std::to_string(n);
    std::u8string name = database.stem().u8string();
    name += u8" (datos recuperados";
    name.append(number.begin(), number.end());
    name += u8").jsonl";
    return database.parent_path() / fs::path(name);
}

std::string recovery_line(const RecoveredItem& item) {
    std::string line = "{\"tabla\":" + json_string(item.table) + ",\"pagina\":" + std::to_string(item.page);
    if (item.row >= 0) line += ",\"fila\":" + std::to_string(item.row);
    if (!item.column.empty()) line += ",\"columna\":" + json_string(item.column);
    line += ",\"motivo\":" + json_string(item.reason) + ",\"valores\":{";
    for (std::size_t i = 0; i < item.values.size(); ++i) {
        if (i > 0) line += ',';
        line += json_string(item.values[i].first) + ':' + json_string(item.values[i].second);
    }
    line += "},\"bytes\":\"" + hex_bytes(item.raw) + "\"}\n";
    return line;
}

void RecoveryFile::save(const RecoveredItem& item) {
    for (unsigned n = 1; n <= max_name_attempts && !file_.is_open(); ++n) {
        path_ = recovery_name(database_, n);
        file_ = NativeFile::create_new(path_);
        if (file_.is_open()) scratch_.emplace(path_);
    }
    if (!file_.is_open()) {
        path_.clear();
        throw EngineError("No se puede crear el archivo de datos recuperados junto a «" + display_path(database_) +
                          "»: hay demasiados archivos anteriores con ese nombre.");
    }
    const std::string line = recovery_line(item);
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    file_.write_at(size_, bytes);
    file_.sync();
    size_ += line.size();
    ++count_;
}

void RecoveryFile::discard() noexcept {
    scratch_.reset();
    file_.close();
    if (!path_.empty()) remove_file(path_);
    path_.clear();
    size_ = 0;
    count_ = 0;
}

}  // namespace jet
