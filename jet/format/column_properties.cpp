#include "jet/format/column_properties.h"

#include <algorithm>

#include "jet/format/row.h"
#include "jet/base/text.h"

namespace jet {
namespace {

// Property blobs: a signature, then chunks of u32 length (header included) and u16 kind.
// Kind 0x80 lists the property names (u16 byte length, name each: UTF-16 after "MR2",
// single-byte after "KKD"); the other kinds are property blocks: u32 length of the
// block's name part, u16 + name of the column (none: the object itself), then entries of
// u16 length (itself included), u8 DDL flag, u8 data type, u16 name index, u16 size, data.
constexpr uint8_t kJet4Magic[4] = {'M', 'R', '2', 0};
constexpr uint8_t kJet3Magic[4] = {'K', 'K', 'D', 0};
constexpr uint16_t kNameList = 0x80;
constexpr size_t kChunkHeader = 6;
constexpr size_t kBlockNameHeader = 6;
constexpr size_t kEntryHeader = 8;

class BlobWalk {
public:
    BlobWalk(Bytes blob, PropertyBlob& out) : blob_(blob), out_(out) {}

    void run() {
        if (blob_.empty()) return;
        if (blob_.size() < 4) return fail("ocupa " + std::to_string(blob_.size()) + " bytes, menos que su firma");
        const bool jet4 = std::equal(blob_.begin(), blob_.begin() + 4, kJet4Magic);
        if (!jet4 && !std::equal(blob_.begin(), blob_.begin() + 4, kJet3Magic))
            return fail("no empieza con la firma MR2 ni KKD");
        ucs2_ = jet4;
        for (size_t at = 4; at < blob_.size();) {
            if (blob_.size() - at < kChunkHeader) return fail(where(at) + "quedan bytes sueltos tras el último bloque");
            const size_t length = u32_at(blob_, at);
            if (length < kChunkHeader || length > blob_.size() - at)
                return fail(where(at) + "un bloque declara " + std::to_string(length) + " bytes y quedan " +
                            std::to_string(blob_.size() - at));
            const Bytes chunk = blob_.subspan(at + kChunkHeader, length - kChunkHeader);
            const bool ok = u16_at(blob_, at + 4) == kNameList ? names(chunk, at + kChunkHeader)
                                                                : block(chunk, at + kChunkHeader);
            if (!ok) return;
            at += length;
        }
    }

private:
    Bytes blob_;
    PropertyBlob& out_;
    bool ucs2_ = true;
    bool have_names_ = false;

    void fail(std::string why) { out_.fault = std::move(why); }
    static std::string where(size_t at) { return "en el byte " + std::to_string(at) + ", "; }

    std::string text(Bytes b) const { return ucs2_ ? decode_ucs2_text(b) : decode_code_page_text(b, 1252); }

    bool names(Bytes chunk, size_t base) {
        out_.names.clear();
        for (size_t at = 0; at < chunk.size();) {
            const size_t left = chunk.size() - at;
            const size_t n = left >= 2 ? u16_at(chunk, at) : 0;
            if (left < 2 || n > left - 2) {
                fail(where(base + at) + "un nombre de propiedad se sale de la lista de nombres");
                return false;
            }
            out_.names.push_back(text(chunk.subspan(at + 2, n)));
            at += 2 + n;
        }
        have_names_ = true;
        return true;
    }

    bool block(Bytes chunk, size_t base) {
        if (!have_names_) {
            fail(where(base) + "hay propiedades antes de la lista de sus nombres");
            return false;
        }
        const size_t name_part = chunk.size() >= 4 ? u32_at(chunk, 0) : 0;
        if (name_part < kBlockNameHeader || name_part > chunk.size() ||
            kBlockNameHeader + u16_at(chunk, 4) != name_part) {
            fail(where(base) + "la cabecera de un grupo de propiedades no cuadra con su nombre");
            return false;
        }
        const std::string column = text(chunk.subspan(kBlockNameHeader, name_part - kBlockNameHeader));
        for (size_t at = name_part; at < chunk.size();) {
            const size_t left = chunk.size() - at;
            const size_t length = left >= 2 ? u16_at(chunk, at) : 0;
            if (left < kEntryHeader || length < kEntryHeader || length > left) {
                fail(where(base + at) + "una propiedad declara " + std::to_string(length) + " bytes y quedan " +
                     std::to_string(left));
                return false;
            }
            const uint8_t type = chunk[at + 3];
            const size_t name_index = u16_at(chunk, at + 4), size = u16_at(chunk, at + 6);
            if (type == 0) {
                fail(where(base + at) + "una propiedad no tiene tipo de datos");
                return false;
            }
            if (name_index >= out_.names.size()) {
                fail(where(base + at) + "una propiedad remite al nombre " + std::to_string(name_index) +
                     " y la lista tiene " + std::to_string(out_.names.size()));
                return false;
            }
            if (kEntryHeader + size > length) {
                fail(where(base + at) + "el valor de la propiedad " + out_.names[name_index] + " (" +
                     std::to_string(size) + " bytes) se sale de ella");
                return false;
            }
            if (out_.names[name_index] == "ResultType" && type == 2 /* byte */ && size == 1)
                out_.result_types.emplace_back(column, chunk[at + kEntryHeader]);
            at += length;
        }
        out_.blocks.push_back(column);
        return true;
    }
};

}  // namespace

PropertyBlob read_property_blob(Bytes blob) {
    PropertyBlob out;
    BlobWalk(blob, out).run();
    return out;
}

std::vector<std::pair<std::string, uint8_t>> calculated_result_types(Bytes blob) {
    if (blob.size() < 4 || !std::equal(blob.begin(), blob.begin() + 4, kJet4Magic)) return {};
    return read_property_blob(blob).result_types;
}

std::string catalog_row_name(const TableDef& catalog, const CrackedRow& row, const DecodeContext& context) {
    for (size_t k = 0; k < catalog.columns.size() && k < row.fields.size(); ++k)
        if (catalog.columns[k].name == "Name" && row.fields[k].present) {
            Faults ignored;
            const Value v = decode_field(catalog.columns[k], row.fields[k], context, ignored);
            if (const auto* name = std::get_if<std::string>(&v)) return *name;
        }
    return {};
}

std::string property_blob_summary(const PropertyBlob& blob) {
    // Names the zeros reached read as control characters; a long list is cut short.
    auto list = [](const std::vector<std::string>& items) {
        constexpr size_t kShown = 12;
        std::string out;
        size_t shown = 0, more = 0;
        for (const std::string& item : items) {
            std::string name;
            for (char ch : item)
                if (static_cast<unsigned char>(ch) >= 0x20) name += ch;
            if (name.empty()) continue;
            if (shown == kShown) {
                ++more;
                continue;
            }
            out += (out.empty() ? "" : ", ") + name;
            ++shown;
        }
        if (more > 0) out += " y " + std::to_string(more) + " más";
        return out;
    };
    const std::string names = list(blob.names), columns = list(blob.blocks);
    if (names.empty()) return "nada";
    return "propiedades " + names + (columns.empty() ? "" : "; columnas " + columns);
}

}  // namespace jet
