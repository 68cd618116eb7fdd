#pragma once
// The window system from plain Win32 controls.
#include "platform/win32/system.h"

#include "platform/services.h"

namespace platform::win32 {

class WindowSystem : public platform::WindowSystem {
public:
    explicit WindowSystem(HINSTANCE instance);
    ~WindowSystem() override;

    std::unique_ptr<platform::Window> create_window(const WindowSpec& spec) override;
    std::unique_ptr<platform::OpenFileDialog> create_open_file_dialog() override;
    platform::MessageBox& message_box() override;

    // Whether a top-level window is one of ours (the loop routes its keys through the dialog manager).
    bool owns(HWND window) const;
    // The window that dialogs and message boxes belong to, or null.
    HWND main_window() const;

private:
    HINSTANCE instance_;
    ATOM window_class_ = 0;
    std::unique_ptr<platform::MessageBox> message_box_;
};

}  // namespace platform::win32
