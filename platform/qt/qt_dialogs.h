#pragma once
// The modal pieces: the OK-only message box, the open-file dialog and the icon.
#include <QIcon>
#include <QPointer>
#include <QWidget>

#include "platform/message_box.h"
#include "platform/open_file_dialog.h"

namespace platform {

// Centred over the program's window when it has one.
class QtMessageBox : public MessageBox {
public:
    void show(const std::u16string& text, const std::u16string& caption) override;
};

// Qt's own dialog (never the desktop's), so tests can drive it; it opens on the
// last accepted file, which it keeps while it lives.
class QtOpenFileDialog : public OpenFileDialog {
public:
    bool show_open() override;
    std::u16string file_name() const override { return file_name_; }

private:
    std::u16string file_name_;
};

// The program's own icon, 16 x 16 and 32 x 32.
QIcon tarsolin_icon();

}  // namespace platform
