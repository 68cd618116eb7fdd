#include "platform/qt/qt_window_system.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace platform {

QtWindowSystem::QtWindowSystem() {
    if (spanish_.load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&spanish_);
}

QtWindowSystem::~QtWindowSystem() { QCoreApplication::removeTranslator(&spanish_); }

std::unique_ptr<Window> QtWindowSystem::create_window(const WindowSpec& spec) {
    return std::make_unique<QtWindow>(spec);
}

std::unique_ptr<OpenFileDialog> QtWindowSystem::create_open_file_dialog() {
    return std::make_unique<QtOpenFileDialog>();
}

}  // namespace platform
