#include "jet/engine_error.h"

namespace jet {

std::string display_path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace jet
