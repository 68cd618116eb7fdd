// Evidence for re-deriving page 0: the catalog's text columns, the column types of every
// table definition, the password area's mask.
#include <algorithm>
#include <array>
#include <cctype>
#include <map>

#include "jet/base/bytes.h"
#include "jet/repair/fix_header.h"
#include "jet/format/header_rules.h"
#include "jet/repair/repair.h"

namespace jet {
namespace {

constexpr size_t kJet4SortVersion = 14;   // column descriptor: sort-order version byte
constexpr uint32_t kMaxRealIndexes = 1000; // far above what Access allows; bounds a damaged count
constexpr size_t kVersionByte = 0x14;

bool text_type(uint8_t type) { return type == data_type::text || type == data_type::memo; }

// Calls visit(descriptor) for each column descriptor that lies whole on the first page of
// a table definition; the descriptors a definition spills onto its next page are skipped
// (evidence, not a full parse).
template <class Visit>
void for_each_column(Bytes page, const Layout& layout, Visit visit) {
    if (page.size() < layout.tdef_variable_start || page[0] != page_type::table_def || page[1] != 0x01) return;
    const uint8_t table_type = page[layout.tdef_table_type];
    if (table_type != 'N' && table_type != 'S') return;
    const uint16_t columns = u16_at(page, layout.tdef_num_cols);
    const uint32_t real_indexes = u32_at(page, layout.tdef_num_real_idx);
    if (real_indexes > kMaxRealIndexes) return;
    size_t at = layout.tdef_variable_start + size_t(real_indexes) * layout.real_index_count_entry_size;
    for (uint16_t i = 0; i < columns && fits(page, at, layout.column_size); ++i, at += layout.column_size)
        visit(slice(page, at, layout.column_size));
}

template <class T>
T most_common(const std::map<T, int>& votes, T otherwise) {
    auto best = std::max_element(votes.begin(), votes.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    return best == votes.end() ? otherwise : best->first;
}

bool accdb_family(const std::filesystem::path& path) {
    // The working copy is "<name>.reparando": the database's own extension comes before it.
    std::string name = path.filename().string();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* ext : {".accdb", ".accde", ".accdr", ".accdt"})
        if (name.find(ext) != std::string::npos) return true;
    return false;
}

}  // namespace

TextDefaults catalog_text_defaults(std::span<const uint8_t> catalog_page, const Layout& layout) {
    std::map<uint16_t, int> sort_orders, code_pages;
    std::map<uint8_t, int> sort_versions;
    for_each_column(catalog_page, layout, [&](Bytes column) {
        if (!text_type(column[layout.col_type])) return;
        const uint16_t lcid = u16_at(column, layout.col_sort_order);
        if (plausible_sort_order(lcid)) ++sort_orders[lcid];
        if (layout.jet3) {
            const uint16_t cp = u16_at(column, layout.col_code_page);
            if (plausible_code_page(cp)) ++code_pages[cp];
        } else if (plausible_sort_version(column[kJet4SortVersion])) {
            ++sort_versions[column[kJet4SortVersion]];
        }
    });
    return TextDefaults{most_common<uint16_t>(sort_orders, 0), most_common<uint8_t>(sort_versions, 0),
                        most_common<uint16_t>(code_pages, 0)};
}

FeatureScan scan_ace_features(const FixContext& context) {
    const Layout& layout = *context.header().layout;
    FeatureScan scan;
    if (layout.jet3) return scan;
    auto need = [&](uint8_t version) {
        scan.ace_only = true;
        scan.lowest_version = std::max(scan.lowest_version, version);
    };
    for (uint32_t n = 2; n < context.page_count(); ++n) {
        const std::vector<uint8_t> page = context.read_page(n);
        for_each_column(page, layout, [&](Bytes column) {
            const uint8_t type = column[layout.col_type];
            if (type == data_type::complex) need(0x02);
            if (type == data_type::big_int) need(0x05);
            if (type == data_type::datetime_ext) need(0x06);
            if (text_type(type) && column[kJet4SortVersion] == 1) need(0x03);
        });
    }
    return scan;
}

const char* engine_name_for(uint8_t version_byte) {
    return version_byte >= 0x02 ? "Standard ACE DB" : "Standard Jet DB";
}

uint8_t derive_version_byte(const FixContext& context, const std::string& engine_name) {
    const Layout& layout = *context.header().layout;
    if (layout.jet3) return 0x00;
    if (engine_name == "Standard Jet DB" || engine_name == "MSISAM Database" || engine_name == "Jet System DB")
        return 0x01;
    const FeatureScan features = scan_ace_features(context);
    // Without an intact name, ACE needs evidence: a feature Jet 4 lacks or, last, the name
    // the file was given. A version byte that is valid and agrees is kept.
    const bool ace = engine_name == "Standard ACE DB" || features.ace_only || accdb_family(context.copy_path());
    if (!ace) return 0x01;
    const std::vector<uint8_t> page0 = context.read_page(0);
    const uint8_t stored = page0.size() > kVersionByte ? page0[kVersionByte] : 0;
    if (stored >= features.lowest_version && stored <= kMaxVersionByte) return stored;
    return features.lowest_version;
}

uint16_t code_page_for_locale(uint16_t lcid) {
    const unsigned primary = lcid & 0x3FF;
    const unsigned sub = lcid >> 10;
    switch (primary) {
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1A: case 0x1B: case 0x1C: case 0x24:
        return 1250;
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x2F:
        return 1251;
    case 0x08: return 1253;
    case 0x1F: case 0x2C: return 1254;
    case 0x0D: return 1255;
    case 0x01: case 0x20: case 0x29: return 1256;
    case 0x25: case 0x26: case 0x27: return 1257;
    case 0x2A: return 1258;
    case 0x1E: return 874;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x04: return (sub == 0x02 || sub == 0x04) ? 936 : 950;
    default: return 1252;
    }
}

std::optional<int32_t> date_from_password_mask(std::span<const uint8_t> page0) {
    constexpr size_t kArea = 40;
    const Bytes area = slice(page0, header_field::kPassword, kArea);
    if (area.size() != kArea) return std::nullopt;
    // The last two repetitions of the 4-byte mask must agree and name a plausible day.
    if (!std::equal(area.begin() + 32, area.begin() + 36, area.begin() + 36)) return std::nullopt;
    const int32_t days = static_cast<int32_t>(u32_at(area, 36));
    if (days <= 0 || !plausible_creation_date(days)) return std::nullopt;
    return days;
}

}  // namespace jet
