#pragma once
// The window system on Qt 6 Widgets.
#include <QTranslator>

#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_window.h"
#include "platform/services.h"

namespace platform {

// Needs a QApplication. Qt's own texts (the open dialog, the OK button) are shown in
// Spanish, whatever the user's locale, when Qt's Spanish translation is installed.
class QtWindowSystem : public WindowSystem {
public:
    QtWindowSystem();
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;
    std::unique_ptr<Window> create_window(const WindowSpec& spec) override;
    std::unique_ptr<OpenFileDialog> create_open_file_dialog() override;
    MessageBox& message_box() override { return box_; }

private:
    QtMessageBox box_;
    QTranslator spanish_;
};

}  // namespace platform
