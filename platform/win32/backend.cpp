#include "platform/win32/backend.h"

namespace platform::win32 {

Backend::Backend(HINSTANCE instance) : windows_(instance) {}

int Backend::run() {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        // Tab, Shift+Tab and the arrow keys move the focus as in a dialog.
        HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (windows_.owns(root) && IsDialogMessageW(root, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

}  // namespace platform::win32
