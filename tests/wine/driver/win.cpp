#include "win.h"

namespace drive {

PROCESS_INFORMATION start(const std::wstring& exe, const std::wstring& folder) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::wstring command = L"\"" + exe + L"\"";
        if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &process))
            return process;
        if (GetLastError() != 1359) break;
        Sleep(500);
    }
    return {};
}

HWND wait_for(const std::function<HWND()>& found, DWORD milliseconds) {
    const DWORD begin = GetTickCount();
    do {
        if (HWND window = found()) return window;
        Sleep(20);
    } while (GetTickCount() - begin < milliseconds);
    return nullptr;
}

bool wait_until(const std::function<bool()>& done, DWORD milliseconds) {
    return wait_for([&] { return done() ? GetDesktopWindow() : nullptr; }, milliseconds) != nullptr;
}

std::vector<HWND> top_windows_of(DWORD process) {
    struct Search {
        DWORD process;
        std::vector<HWND> found;
    } search{process, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->process) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> children_in_z_order(HWND parent) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    return children;
}

std::wstring class_of(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring text_of(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
    text.resize(copied);
    return text;
}

HWND dialog_of(DWORD process, const wchar_t* caption) {
    for (HWND window : top_windows_of(process))
        if (IsWindowVisible(window) && class_of(window) == L"#32770" && (!caption || text_of(window) == caption))
            return window;
    return nullptr;
}

HWND focus_of(DWORD thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

RECT rect_in_parent(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

}  // namespace drive
