#pragma once
// Everything the window logic needs from the platform, handed to Form1 at start-up.
#include "platform/database_engine.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/open_file_dialog.h"
#include "platform/window.h"

namespace platform {

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    virtual std::unique_ptr<Window> create_window(const WindowSpec& spec) = 0;
    virtual std::unique_ptr<OpenFileDialog> create_open_file_dialog() = 0;
    virtual MessageBox& message_box() = 0;
};

struct Services {
    WindowSystem& windows;
    DatabaseEngineFactory& engines;
    FileSystemFactory& file_systems;
};

}  // namespace platform
