#pragma once
// Maps the DOS-style paths the window logic uses onto POSIX paths: a path rooted
// with a backslash lies under the root of the current drive, "a:\" on drive A.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct DriveMap {
    std::filesystem::path current_drive_root;  // stands in for "\" on the current drive
    std::filesystem::path drive_a;             // stands in for "a:\"
    bool drive_a_must_be_mounted = true;       // an unmounted drive A holds no diskette
};

// The resolved path, or the Spanish description of why there is none.
struct ResolvedPath {
    std::filesystem::path path;
    std::u16string failure;
    bool ok() const { return failure.empty(); }
};

ResolvedPath resolve_dos_path(std::u16string_view dos_path, const DriveMap& drives);

// The mount point of the file system that holds the current directory.
std::filesystem::path current_drive_root();

// True when path is the top of a mounted file system.
bool is_mount_point(const std::filesystem::path& path);

}  // namespace platform
