#pragma once
// The result of check and repair as one JSON document (--json), for programs that call
// jetrepair. Keys and values are documented in the manual page, jetrepair(1).
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "jet/engine.h"

// One finding: code, severity, object, description.
nlohmann::ordered_json finding_json(const jet::Finding& finding);

// A path as UTF-8 text; null when empty (a file that was not written).
nlohmann::ordered_json path_json(const std::filesystem::path& path);

// "Jet 3", "Jet 4", "ACE 12" ... read from the file's header; empty when it cannot be read.
std::string format_name(const std::filesystem::path& file);

// The document's fields every command shares; findings are added by the caller.
nlohmann::ordered_json result_json(const char* command, const std::filesystem::path& file);

// Writes the document with the exit status and returns that status.
int print_json(nlohmann::ordered_json document, int exit_status);

// The document of a file that could not be examined or repaired.
int print_json_failure(const char* command, const std::filesystem::path& file, const std::string& reason,
                       int exit_status);
