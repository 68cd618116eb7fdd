#pragma once
// The system's modal dialogs: message box and open-file dialog.
#include "platform/win32/system.h"

#include <array>

#include "platform/message_box.h"
#include "platform/open_file_dialog.h"

namespace platform::win32 {

class WindowSystem;

// Application-modal: owned by the program's window, so nothing else in it takes input.
class MessageBox : public platform::MessageBox {
public:
    explicit MessageBox(const WindowSystem& windows) : windows_(windows) {}
    void show(const std::u16string& text, const std::u16string& caption) override;

private:
    const WindowSystem& windows_;
};

class OpenFileDialog : public platform::OpenFileDialog {
public:
    explicit OpenFileDialog(const WindowSystem& windows) : windows_(windows) {}
    bool show_open() override;
    std::u16string file_name() const override;

private:
    const WindowSystem& windows_;
    std::array<wchar_t, 260> file_{};  // the dialog's file-name buffer, kept between calls
};

}  // namespace platform::win32
