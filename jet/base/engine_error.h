#pragma once
// How the engine fails: one exception type carrying a Spanish description, and the name
// of a file as those descriptions show it.
#include <filesystem>
#include <stdexcept>
#include <string>

namespace jet {

// The file could not be examined at all (missing, unreadable, not a database,
// encrypted, in use). what() is the Spanish description.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 text of a path, for descriptions shown to the user (on Windows without the
// "\\\\?\\" of the long form, which users never type).
std::string display_path(const std::filesystem::path& path);

}  // namespace jet
