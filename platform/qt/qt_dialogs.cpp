#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "platform/qt/qt_text.h"

static void init_icon_resources() { Q_INIT_RESOURCE(tarsolin_icon); }

namespace platform {

namespace {

// The program has one window; dialogs belong to it.
QWidget* owner() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows)
        if (w->isVisible() && !w->isModal()) return w;
    return nullptr;
}

}  // namespace

void QtMessageBox::show(const std::u16string& text, const std::u16string& caption) {
    QMessageBox box(QMessageBox::NoIcon, to_qstring(caption), to_qstring(text), QMessageBox::Ok, owner());
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setIcon(QIcon());  // no picture anywhere in the box
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool QtOpenFileDialog::show_open() {
    QFileDialog dialog(owner());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (!file_name_.empty()) dialog.selectFile(to_qstring(file_name_));
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return false;
    file_name_ = from_qstring(QDir::toNativeSeparators(chosen.first()));
    return true;
}

QIcon tarsolin_icon() {
    init_icon_resources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/tarsolin-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/tarsolin-32.png"), QSize(32, 32));
    return icon;
}

}  // namespace platform
