#pragma once
// The window system on Qt 6 Widgets.
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_window.h"
#include "platform/services.h"

namespace platform {

class QtWindowSystem : public WindowSystem {
public:
    std::unique_ptr<Window> create_window(const WindowSpec& spec) override;
    std::unique_ptr<OpenFileDialog> create_open_file_dialog() override;
    MessageBox& message_box() override { return box_; }

private:
    QtMessageBox box_;
};

}  // namespace platform
