#pragma once
// The file-system object through COM automation: the object is created by its
// programmatic name and its members are looked up by name at run time.
#include "platform/file_system.h"

namespace platform::win32 {

// Needs COM initialised on the calling thread (Backend or ComApartment does it).
class AutomationFileSystemFactory : public platform::FileSystemFactory {
public:
    std::unique_ptr<platform::FileSystemObject> create(const std::u16string& class_name) override;
};

}  // namespace platform::win32
