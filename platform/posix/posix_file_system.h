#pragma once
// The file-system object on POSIX: "fileexists", "deletefile" and "copyfile"
// over DOS-style paths (see dos_path.h), with the service's defaults: a copy
// overwrites its destination, a deletion refuses a read-only file.
#include <filesystem>

#include "platform/file_system.h"
#include "platform/posix/dos_path.h"

namespace platform {

// Where drive A is mounted; a diskette is there only while something is mounted.
inline const std::filesystem::path kDriveAMountPoint = "/media/floppy";

class PosixFileSystem : public FileSystemObject {
public:
    explicit PosixFileSystem(DriveMap drives);
    bool file_exists(const std::u16string& path) override;
    void delete_file(const std::u16string& path) override;
    void copy_file(const std::u16string& source, const std::u16string& destination) override;

private:
    std::filesystem::path resolve(const std::u16string& path) const;
    DriveMap drives_;
};

// Creates objects of class "Scripting.FileSystemObject" only. Without arguments the
// current drive is the one that holds the current directory when the object is
// created; tests pass their own folders instead.
class PosixFileSystemFactory : public FileSystemFactory {
public:
    PosixFileSystemFactory() = default;
    PosixFileSystemFactory(std::filesystem::path current_drive_root, std::filesystem::path drive_a);
    std::unique_ptr<FileSystemObject> create(const std::u16string& class_name) override;

private:
    std::optional<DriveMap> drives_;
};

}  // namespace platform
