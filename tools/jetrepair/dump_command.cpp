// jetrepair dump: every user table as JSON, rows in physical order.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "jet/engine.h"

namespace {

using nlohmann::ordered_json;

// A float written with the fewest digits that read back to the same float.
ordered_json float_json(float f) {
    if (!std::isfinite(f)) return std::isnan(f) ? "NaN" : (f > 0 ? "Infinity" : "-Infinity");
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    // The double nearest that short text prints as the same text.
    return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

ordered_json double_json(double d) {
    if (!std::isfinite(d)) return std::isnan(d) ? "NaN" : (d > 0 ? "Infinity" : "-Infinity");
    return d;
}

ordered_json value_json(const jet::Value& value) {
    return std::visit(
        [](const auto& v) -> ordered_json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, jet::Null>) return nullptr;
            else if constexpr (std::is_same_v<T, bool>) return v;
            else if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
                               std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t>)
                return v;
            else if constexpr (std::is_same_v<T, float>) return float_json(v);
            else if constexpr (std::is_same_v<T, double>) return double_json(v);
            else if constexpr (std::is_same_v<T, jet::Currency>) return jet::format_currency(v.scaled);
            else if constexpr (std::is_same_v<T, jet::Decimal>) return jet::format_decimal(v);
            else if constexpr (std::is_same_v<T, jet::DateTime>) {
                auto text = jet::format_datetime(v.days);
                return text.empty() ? double_json(v.days) : ordered_json(text);
            } else if constexpr (std::is_same_v<T, jet::ExtendedDateTime>) {
                auto text = jet::format_extended_datetime(v.ascii);
                return text.empty() ? v.ascii : text;
            } else if constexpr (std::is_same_v<T, jet::Guid>) return jet::format_guid(v);
            else if constexpr (std::is_same_v<T, std::string>) return v;
            else if constexpr (std::is_same_v<T, jet::Binary>) return jet::hex_lower(v.bytes);
        },
        value);
}

std::string dumped(const ordered_json& j) { return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace); }

// Faults that leave every value readable: reported as notices, not as skipped data.
bool notice_only(jet::FaultKind kind) {
    using K = jet::FaultKind;
    return kind == K::HeaderSignature || kind == K::HeaderEngineName || kind == K::HeaderVersionUnknown ||
           kind == K::TableDefLength || kind == K::TableDefIndex || kind == K::DataPageFreeSpace;
}

class Reporter {
public:
    void report(const jet::Fault& f) {
        std::string where;
        if (!f.table.empty()) where += "tabla «" + f.table + "», ";
        if (f.page) where += "página " + std::to_string(f.page) + ", ";
        if (f.row >= 0) where += "fila " + std::to_string(f.row) + ", ";
        if (notice_only(f.kind)) {
            std::cerr << "Aviso: " << where << f.detail << ".\n";
        } else {
            std::cerr << "Omitido: " << where << f.detail << ".\n";
            skipped_ = true;
        }
    }
    void report_all(const jet::Faults& faults) {
        for (const auto& f : faults) report(f);
    }
    void skipped(const std::string& text) {
        std::cerr << "Omitido: " << text << ".\n";
        skipped_ = true;
    }
    bool any_skipped() const { return skipped_; }

private:
    bool skipped_ = false;
};

void dump_table(jet::Database& db, const jet::CatalogEntry& entry, bool first, Reporter& reporter) {
    const jet::TableDefResult& def = db.table_def(entry.tdef_page());
    jet::Faults def_faults = def.faults;
    for (auto& f : def_faults) f.table = entry.name;
    reporter.report_all(def_faults);
    if (!def.table || def.table->columns.empty()) {
        reporter.skipped("tabla «" + entry.name + "»: no se puede leer su definición");
        return;
    }
    const jet::TableDef& t = *def.table;
    ordered_json columns = ordered_json::array();
    for (const auto& c : t.columns) {
        columns.push_back({{"name", c.name}, {"type", jet::data_type_name(c.type)}});
        if (c.calculated()) columns.back()["calculated"] = true;
    }
    std::cout << (first ? "" : ",\n") << "{\"name\":" << dumped(entry.name) << ",\"columns\":" << dumped(columns)
              << ",\"rows\":[";
    bool first_row = true;
    jet::Faults faults;
    db.scan_rows(t, entry.name, [&](const jet::RowLocation&, std::vector<jet::Value>&& values) {
        ordered_json row = ordered_json::array();
        for (const auto& v : values) row.push_back(value_json(v));
        std::cout << (first_row ? "\n" : ",\n") << dumped(row);
        first_row = false;
    }, faults);
    std::cout << "]}";
    reporter.report_all(faults);
}

}  // namespace

int run_dump(const std::filesystem::path& file, const std::optional<std::string>& table) {
    try {
        jet::Database db(file);
        Reporter reporter;
        reporter.report_all(db.file_faults());
        const jet::Catalog& catalog = db.catalog();
        reporter.report_all(catalog.faults);
        auto tables = db.user_tables();
        if (table) {
            std::erase_if(tables, [&](const jet::CatalogEntry& e) { return e.name != *table; });
            if (tables.empty()) {
                std::cerr << "jetrepair: la base de datos no tiene ninguna tabla «" << *table << "».\n";
                return kExitUsage;
            }
        }
        std::cout << "{\"tables\":[\n";
        bool first = true;
        for (const auto& entry : tables) {
            dump_table(db, entry, first, reporter);
            first = false;
        }
        std::cout << "\n]}\n";
        std::cout.flush();
        return reporter.any_skipped() ? kExitSkipped : kExitOk;
    } catch (const jet::EngineError& e) {
        std::cerr << e.what() << "\n";
        return kExitUnreadable;
    }
}
