#pragma once
// The file-system object seam, created by class name for one operation.
#include <memory>
#include <string>

namespace platform {

class FileSystemObject {
public:
    virtual ~FileSystemObject() = default;
    virtual bool file_exists(const std::u16string& path) = 0;
    // No force flag: a read-only file is refused.
    virtual void delete_file(const std::u16string& path) = 0;
    // No overwrite flag: the service default (overwrite) applies.
    virtual void copy_file(const std::u16string& source, const std::u16string& destination) = 0;
};

class FileSystemFactory {
public:
    virtual ~FileSystemFactory() = default;
    // Throws platform::Failure when no object of that class can be created.
    virtual std::unique_ptr<FileSystemObject> create(const std::u16string& class_name) = 0;
};

}  // namespace platform
