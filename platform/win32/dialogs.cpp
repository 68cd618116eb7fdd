#include "platform/win32/dialogs.h"

#include <commdlg.h>

#include <cstdio>

#include "platform/failure.h"
#include "platform/win32/error_text.h"
#include "platform/win32/wide.h"
#include "platform/win32/window_system.h"

namespace platform::win32 {

void MessageBox::show(const std::u16string& text, const std::u16string& caption) {
    if (!MessageBoxW(windows_.main_window(), wide(text).c_str(), wide(caption).c_str(), MB_OK | MB_APPLMODAL))
        throw Failure(system_text(GetLastError()));
}

bool OpenFileDialog::show_open() {
    const auto kept = file_;
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = windows_.main_window();
    dialog.lpstrFile = file_.data();
    dialog.nMaxFile = static_cast<DWORD>(file_.size());
    if (GetOpenFileNameW(&dialog)) return true;
    file_ = kept;  // a cancel leaves the name as it was
    if (const DWORD error = CommDlgExtendedError()) {
        wchar_t code[16];
        std::swprintf(code, 16, L"%lu", static_cast<unsigned long>(error));
        throw Failure(u"No se ha podido mostrar el cuadro de diálogo Abrir (error " + utf16(code) + u")");
    }
    return false;
}

std::u16string OpenFileDialog::file_name() const {
    return utf16(std::wstring_view(file_.data(), wcsnlen(file_.data(), file_.size())));
}

}  // namespace platform::win32
