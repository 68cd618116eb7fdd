#include "jet/format/header.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "jet/base/bytes.h"
#include "jet/format/header_fields.h"

namespace jet {
namespace {

using namespace header_field;

const char* const kKnownEngines[] = {"Standard Jet DB", "Standard ACE DB", "MSISAM Database",
                                     "Jet System DB"};

std::string engine_name_at(Bytes page) {
    std::string name;
    for (size_t i = 0; i < kEngineNameLength && kEngineName + i < page.size(); ++i) {
        char c = static_cast<char>(page[kEngineName + i]);
        if (c == '\0') break;
        name += c;
    }
    return name;
}

bool known_engine(const std::string& name) {
    return std::any_of(std::begin(kKnownEngines), std::end(kKnownEngines),
                       [&](const char* known) { return name == known; });
}

// A TDEF first page at page 2 for the given page size (used to pick a layout when the
// version byte is damaged).
bool tdef_at_page2(Bytes prefix, uint32_t page_size) {
    size_t at = size_t(page_size) * 2;
    return fits(prefix, at, 4) && prefix[at] == page_type::table_def && prefix[at + 1] == 0x01;
}

const Layout* guess_layout(Bytes prefix, const std::string& engine) {
    if (const Layout* evident = catalog_layout(prefix)) return evident;
    if (engine == "Standard ACE DB") return &kJet4Layout;
    if (tdef_at_page2(prefix, kJet3Layout.page_size) && u8_at(prefix, 2048 * 2 + 2) == 'V') return &kJet3Layout;
    if (tdef_at_page2(prefix, kJet4Layout.page_size)) return &kJet4Layout;
    return nullptr;
}

bool any_nonzero(Bytes b) {
    return std::any_of(b.begin(), b.end(), [](uint8_t x) { return x != 0; });
}

bool jet4_password_set(const Header& h) {
    // The area is the UCS-2 password XORed with trunc(creation date) repeated; with no
    // password it reads as the bare mask.
    double date = h.creation_date;
    int32_t mask_value = 0;
    if (std::isfinite(date) && date > INT32_MIN && date < INT32_MAX) mask_value = static_cast<int32_t>(date);
    uint32_t mask = static_cast<uint32_t>(mask_value);
    Bytes area = slice(h.page0, kPassword, h.layout->password_length);
    for (size_t i = 0; i < area.size(); ++i) {
        uint8_t m = static_cast<uint8_t>(mask >> (8 * (i % 4)));
        if ((area[i] ^ m) != 0) return true;
    }
    return false;
}

}  // namespace

const Layout* catalog_layout(std::span<const uint8_t> prefix) {
    // The catalog's definition is page 2 in every version, a system table ('S') with the
    // same 17 columns; page 2 sits at a different offset for each page size.
    constexpr uint16_t kCatalogColumns = 17;
    for (const Layout* layout : {&kJet3Layout, &kJet4Layout}) {
        const size_t at = size_t(layout->page_size) * 2;
        if (!tdef_at_page2(prefix, layout->page_size)) continue;
        if (layout->jet3 && (u8_at(prefix, at + 2) != 'V' || u8_at(prefix, at + 3) != 'C')) continue;
        if (u8_at(prefix, at + layout->tdef_table_type) != 'S') continue;
        if (u16_at(prefix, at + layout->tdef_num_cols) != kCatalogColumns) continue;
        return layout;
    }
    return nullptr;
}

std::array<uint8_t, 128> header_keystream() {
    std::array<uint8_t, 256> s;
    std::iota(s.begin(), s.end(), 0);
    uint8_t j = 0;
    for (size_t i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + s[i] + kMaskKey[i % kMaskKey.size()]);
        std::swap(s[i], s[j]);
    }
    std::array<uint8_t, 128> stream;
    uint8_t a = 0, b = 0;
    for (auto& out : stream) {
        a = static_cast<uint8_t>(a + 1);
        b = static_cast<uint8_t>(b + s[a]);
        std::swap(s[a], s[b]);
        out = s[static_cast<uint8_t>(s[a] + s[b])];
    }
    return stream;
}

void apply_header_mask(std::span<uint8_t> page0, const Layout& layout) {
    static const auto stream = header_keystream();
    for (size_t i = 0; i < layout.header_mask_length && kMaskStart + i < page0.size(); ++i)
        page0[kMaskStart + i] ^= stream[i];
}

HeaderResult parse_header(std::span<const uint8_t> prefix) {
    HeaderResult result;
    const bool signature = fits(prefix, 0, 4) && prefix[0] == 0x00 && prefix[1] == 0x01 && prefix[2] == 0x00 &&
                           prefix[3] == 0x00;
    const std::string engine = engine_name_at(prefix);
    const bool engine_known = known_engine(engine);
    // With both marks of page 0 gone, the file is still a database when page 2 is plainly
    // the catalog's definition: the rest of the file vouches for it.
    const Layout* evident = catalog_layout(prefix);
    if (!signature && !engine_known && !evident) return result;
    result.is_database = true;
    if (!signature)
        result.faults.push_back({FaultKind::HeaderSignature, 0, -1, {}, "la firma de la página 0 no es la esperada"});
    if (!engine_known)
        result.faults.push_back({FaultKind::HeaderEngineName, 0, -1, {}, "el nombre del motor de la cabecera no es válido"});

    Header h;
    h.version_byte = u8_at(prefix, kVersion);
    h.engine_name = engine;
    h.layout = layout_for_version(h.version_byte);
    // A version byte naming the other page size than the one page 2 shows is damaged too.
    if (h.layout && evident && h.layout != evident) h.layout = nullptr;
    if (!h.layout) {
        h.layout = guess_layout(prefix, engine);
        if (!h.layout) return result;  // a database, but no layout can be trusted
        result.faults.push_back({FaultKind::HeaderVersionUnknown, 0, -1, {},
                                 "la versión de la cabecera es desconocida; se deduce por la página 2"});
    }
    const size_t size = std::min<size_t>(prefix.size(), h.layout->page_size);
    h.page0.assign(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(size));
    apply_header_mask(h.page0, *h.layout);
    Bytes p = h.page0;
    h.code_page = u16_at(p, kCodePage);
    h.database_key = u32_at(p, kDatabaseKey);
    if (h.database_key != 0 && evident == h.layout) {
        // Encrypted pages would hide the catalog's definition; it reads plainly, so the key
        // itself is what is damaged.
        result.faults.push_back({FaultKind::HeaderDatabaseKey, 0, -1, {},
                                 "la clave de cifrado de la cabecera no es cero pero las páginas no están cifradas"});
        h.damaged_database_key = h.database_key;
        h.database_key = 0;
    }
    if (h.layout->jet3) {
        h.sort_order = u16_at(p, kJet3SortOrder);
        h.has_password = any_nonzero(slice(p, kPassword, h.layout->password_length));
    } else {
        h.sort_order = u16_at(p, kJet4SortOrder);
        h.sort_version = u8_at(p, kJet4SortVersion);
        h.creation_date = f64_at(p, kCreationDate);
        h.has_password = jet4_password_set(h);
    }
    result.header = std::move(h);
    return result;
}

}  // namespace jet
