#include "platform/qt/qt_window_system.h"

namespace platform {

std::unique_ptr<Window> QtWindowSystem::create_window(const WindowSpec& spec) {
    return std::make_unique<QtWindow>(spec);
}

std::unique_ptr<OpenFileDialog> QtWindowSystem::create_open_file_dialog() {
    return std::make_unique<QtOpenFileDialog>();
}

}  // namespace platform
