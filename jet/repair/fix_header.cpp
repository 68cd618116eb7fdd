// The fixes for a damaged page 0. Each re-derives its own field from the rest of the
// file and rewrites only that field; every other byte of page 0 (unknown ones included)
// stays as it was. The layout was already settled from the page structure when the
// repair read the header, so these fixes never change the page size.
#include <algorithm>
#include <cstring>

#include "jet/base/bytes.h"
#include "jet/repair/fix_header.h"
#include "jet/format/header_fields.h"
#include "jet/format/header_rules.h"
#include "jet/repair/repair.h"

namespace jet {
namespace {

using namespace header_field;
constexpr uint32_t kCatalogPage = 2;
constexpr uint16_t kGeneralSortOrder = 0x0409;
// Used only when neither the date nor the password mask survived: 2000-01-01.
constexpr double kFallbackCreationDate = 36526.0;

// Page 0 with its masked region decoded, edited, then masked again on write.
class Page0 {
public:
    explicit Page0(FixContext& context) : context_(context), layout_(*context.header().layout) {
        bytes_ = context.read_page(0);
        if (bytes_.size() != layout_.page_size)
            throw EngineError("Error interno de la reparación: la página 0 no se puede leer entera.");
        apply_header_mask(bytes_, layout_);
    }
    std::vector<uint8_t>& bytes() { return bytes_; }
    const Layout& layout() const { return layout_; }
    void put_u16(size_t at, uint16_t v) { jet::put_u16(bytes_, at, v); }
    void put_u32(size_t at, uint32_t v) { jet::put_u32(bytes_, at, v); }
    void put_f64(size_t at, double v) { std::memcpy(&bytes_[at], &v, sizeof v); }
    double creation_date() const { return f64_at(bytes_, kCreationDate); }
    void write() {
        std::vector<uint8_t> masked = bytes_;
        apply_header_mask(masked, layout_);
        context_.write_page(0, masked);
    }

private:
    FixContext& context_;
    const Layout& layout_;
    std::vector<uint8_t> bytes_;
};

TextDefaults catalog_defaults(const FixContext& context) {
    return catalog_text_defaults(context.read_page(kCatalogPage), *context.header().layout);
}

std::string stored_engine_name(Bytes page0) {
    std::string name;
    for (size_t i = 0; i < kEngineNameLength && page0[kEngineName + i] != 0; ++i) name += char(page0[kEngineName + i]);
    return name;
}

bool engine_agrees(const std::string& name, uint8_t version) {
    if (name == "Standard ACE DB") return version >= 0x02;
    if (name == "Standard Jet DB" || name == "MSISAM Database" || name == "Jet System DB") return version <= 0x01;
    return false;
}

// The password area holding `password` (UCS-2 units, Jet 4) masked with trunc(date).
void write_jet4_password(Page0& page, const std::u16string& password, double date) {
    const uint32_t mask = static_cast<uint32_t>(static_cast<int32_t>(date));
    const size_t length = page.layout().password_length;
    for (size_t i = 0; i < length; ++i) {
        const size_t unit = i / 2;
        const char16_t c = unit < password.size() ? password[unit] : u'\0';
        const uint8_t plain = static_cast<uint8_t>(i % 2 == 0 ? c : c >> 8);
        page.bytes()[kPassword + i] = plain ^ static_cast<uint8_t>(mask >> (8 * (i % 4)));
    }
}

}  // namespace

void fix_header_signature(FixContext& context, std::span<const Finding>) {
    std::vector<uint8_t> page = context.read_page(0);
    if (page.size() < 4) return;
    const uint8_t signature[] = {0x00, 0x01, 0x00, 0x00};
    std::copy(std::begin(signature), std::end(signature), page.begin());
    context.write_page(0, page);
}

// Engine name and version byte are settled together: each is evidence for the other.
void fix_header_identity(FixContext& context, std::span<const Finding>) {
    std::vector<uint8_t> page = context.read_page(0);
    if (page.size() <= kVersion) return;
    const std::string name = stored_engine_name(page);
    const uint8_t stored = page[kVersion];
    const bool stored_fits = layout_for_version(stored) == context.header().layout && engine_agrees(name, stored);
    const uint8_t version = stored_fits ? stored : derive_version_byte(context, name);
    page[kVersion] = version;
    if (!engine_agrees(name, version)) {
        const char* fresh = engine_name_for(version);
        std::fill(page.begin() + kEngineName, page.begin() + kEngineName + kEngineNameLength, 0);
        std::copy(fresh, fresh + std::strlen(fresh), page.begin() + kEngineName);
    }
    context.write_page(0, page);
}

void fix_header_sort_order(FixContext& context, std::span<const Finding>) {
    Page0 page(context);
    const TextDefaults defaults = catalog_defaults(context);
    const size_t at = page.layout().jet3 ? kJet3SortOrder : kJet4SortOrder;
    if (!plausible_sort_order(u16_at(page.bytes(), at)))
        page.put_u16(at, defaults.sort_order ? defaults.sort_order : kGeneralSortOrder);
    if (!page.layout().jet3 && !plausible_sort_version(page.bytes()[kJet4SortVersion]))
        page.bytes()[kJet4SortVersion] = defaults.sort_version;
    page.write();
}

void fix_header_code_page(FixContext& context, std::span<const Finding>) {
    Page0 page(context);
    if (plausible_code_page(u16_at(page.bytes(), kCodePage))) return;
    const TextDefaults defaults = catalog_defaults(context);
    uint16_t lcid = u16_at(page.bytes(), page.layout().jet3 ? kJet3SortOrder : kJet4SortOrder);
    if (!plausible_sort_order(lcid)) lcid = defaults.sort_order ? defaults.sort_order : kGeneralSortOrder;
    page.put_u16(kCodePage, defaults.code_page ? defaults.code_page : code_page_for_locale(lcid));
    page.write();
}

void fix_header_creation_date(FixContext& context, std::span<const Finding>) {
    Page0 page(context);
    if (page.layout().jet3 || plausible_creation_date(page.creation_date())) return;
    // The password area is masked with the date's whole days: reading the mask back gives
    // the date and keeps any password valid.
    if (const auto days = date_from_password_mask(page.bytes())) {
        page.put_f64(kCreationDate, double(*days));
    } else {
        page.put_f64(kCreationDate, kFallbackCreationDate);
        write_jet4_password(page, {}, kFallbackCreationDate);
    }
    page.write();
}

void fix_header_password_area(FixContext& context, std::span<const Finding>) {
    Page0 page(context);
    if (page.layout().jet3) {
        std::fill_n(page.bytes().begin() + kPassword, page.layout().password_length, 0);
    } else {
        const double date = plausible_creation_date(page.creation_date()) ? page.creation_date() : kFallbackCreationDate;
        if (date != page.creation_date()) page.put_f64(kCreationDate, date);
        write_jet4_password(page, {}, date);
    }
    page.write();
}

void fix_header_database_key(FixContext& context, std::span<const Finding>) {
    Page0 page(context);
    page.put_u32(kDatabaseKey, 0);
    page.write();
}

}  // namespace jet
