#include "jet/base/engine_error.h"

namespace jet {

std::string display_path(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
#ifdef _WIN32
    if (text.starts_with(u8"\\\\?\\UNC\\")) text.replace(0, 8, u8"\\\\");
    else if (text.starts_with(u8"\\\\?\\")) text.erase(0, 4);
#endif
    return std::string(text.begin(), text.end());
}

}  // namespace jet
