#include "report_json.h"

#include <iostream>

#include "jet/engine.h"

namespace {

using nlohmann::ordered_json;

const char* severity_key(jet::Severity s) {
    switch (s) {
    case jet::Severity::Error: return "error";
    case jet::Severity::Warning: return "warning";
    case jet::Severity::Info: return "info";
    }
    return "info";
}

}  // namespace

ordered_json path_json(const std::filesystem::path& path) {
    if (path.empty()) return nullptr;
    return jet::display_path(path);
}

namespace {

// The typed place of a finding: only the fields that apply (an empty object for the file).
ordered_json location_json(const jet::Location& at) {
    ordered_json out = ordered_json::object();
    auto put = [&](const char* key, const auto& field) {
        if (field) out[key] = *field;
    };
    put("page", at.page);
    put("slot", at.slot);
    put("definition_page", at.definition_page);
    put("table", at.table);
    put("index", at.index);
    put("index_name", at.index_name);
    put("column", at.column);
    put("column_name", at.column_name);
    return out;
}

}  // namespace

ordered_json finding_json(const jet::Finding& finding) {
    return {{"code", finding.code},
            {"severity", severity_key(finding.severity)},
            {"object", finding.object},
            {"location", location_json(finding.location)},
            {"description", finding.description}};
}

std::string format_name(const std::filesystem::path& file) {
    static const char* const names[] = {"Jet 3", "Jet 4", "ACE 12", "ACE 14", "ACE 15", "ACE 16", "ACE 17"};
    try {
        const jet::Database db(file);
        const uint8_t version = db.header().version_byte;
        if (version < std::size(names)) return names[version];
    } catch (const std::exception&) {
    }
    return {};
}

ordered_json result_json(const char* command, const std::filesystem::path& file) {
    const std::string format = format_name(file);
    return {{"command", command},
            {"file", jet::display_path(file)},
            {"format", format.empty() ? ordered_json(nullptr) : ordered_json(format)}};
}

int print_json(ordered_json document, int exit_status) {
    document["exit_status"] = exit_status;
    // A POSIX file name need not be UTF-8: such bytes print as U+FFFD rather than abort.
    std::cout << document.dump(2, ' ', false, ordered_json::error_handler_t::replace) << "\n";
    std::cout.flush();
    return exit_status;
}

int print_json_failure(const char* command, const std::filesystem::path& file, const std::string& reason,
                       int exit_status) {
    ordered_json document = result_json(command, file);
    document["error"] = reason;
    document["findings"] = ordered_json::array();
    return print_json(std::move(document), exit_status);
}
