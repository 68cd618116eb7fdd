#pragma once
// Everything the Windows program needs from the system, for its one thread.
#include "platform/win32/system.h"

#include "platform/win32/com.h"
#include "platform/win32/file_system.h"
#include "platform/win32/window_system.h"

namespace platform::win32 {

class Backend {
public:
    explicit Backend(HINSTANCE instance);
    platform::WindowSystem& windows() { return windows_; }
    platform::FileSystemFactory& file_systems() { return file_systems_; }
    // Runs the event loop until the program's window closes; returns the exit code.
    int run();

private:
    ComApartment com_;
    WindowSystem windows_;
    AutomationFileSystemFactory file_systems_;
};

}  // namespace platform::win32
