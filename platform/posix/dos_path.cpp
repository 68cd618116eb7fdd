#include "platform/posix/dos_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {

namespace {

bool same_device(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev;
}

std::string without_leading_slashes(std::string s) {
    const auto first = s.find_first_not_of('/');
    return first == std::string::npos ? std::string() : s.substr(first);
}

bool is_letter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

bool is_mount_point(const std::filesystem::path& path) {
    struct stat self {}, parent {};
    if (::stat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
    if (::stat((path / "..").c_str(), &parent) != 0) return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

std::filesystem::path current_drive_root() {
    std::error_code error;
    std::filesystem::path here = std::filesystem::current_path(error);
    if (error) return "/";
    while (here.has_relative_path()) {
        const auto parent = here.parent_path();
        if (!same_device(here, parent)) break;
        here = parent;
    }
    return here;
}

ResolvedPath resolve_dos_path(std::u16string_view dos_path, const DriveMap& drives) {
    std::u16string text(dos_path);
    for (auto& c : text)
        if (c == u'\\') c = u'/';

    if (text.size() >= 2 && text[1] == u':' && is_letter(text[0])) {
        if (text[0] != u'a' && text[0] != u'A') return {{}, u"No se encontró la ruta de acceso"};
        if (drives.drive_a_must_be_mounted ? !is_mount_point(drives.drive_a)
                                           : !std::filesystem::is_directory(drives.drive_a))
            return {{}, u"El disco no está preparado"};
        return {drives.drive_a / without_leading_slashes(utf8_from_utf16(text.substr(2))), {}};
    }
    if (!text.empty() && text[0] == u'/')
        return {drives.current_drive_root / without_leading_slashes(utf8_from_utf16(text)), {}};
    return {std::filesystem::path(utf8_from_utf16(text)), {}};
}

}  // namespace platform
