#include "platform/win32/window_system.h"

#include <commctrl.h>

#include "platform/failure.h"
#include "platform/win32/dialogs.h"
#include "platform/win32/error_text.h"
#include "platform/win32/resource.h"
#include "platform/win32/window.h"

namespace platform::win32 {

namespace {

HICON load_icon(HINSTANCE instance, int width_metric, int height_metric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARSOLIN), IMAGE_ICON,
                                         GetSystemMetrics(width_metric), GetSystemMetrics(height_metric),
                                         LR_DEFAULTCOLOR | LR_SHARED));
}

}  // namespace

WindowSystem::WindowSystem(HINSTANCE instance) : instance_(instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = Window::procedure;
    cls.hInstance = instance;
    cls.hIcon = load_icon(instance, SM_CXICON, SM_CYICON);
    cls.hIconSm = load_icon(instance, SM_CXSMICON, SM_CYSMICON);
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kWindowClass;
    window_class_ = RegisterClassExW(&cls);
    if (!window_class_) throw Failure(system_text(GetLastError()));
    message_box_ = std::make_unique<MessageBox>(*this);
}

WindowSystem::~WindowSystem() { UnregisterClassW(kWindowClass, instance_); }

std::unique_ptr<platform::Window> WindowSystem::create_window(const WindowSpec& spec) {
    return std::make_unique<Window>(instance_, spec);
}

std::unique_ptr<platform::OpenFileDialog> WindowSystem::create_open_file_dialog() {
    return std::make_unique<OpenFileDialog>(*this);
}

platform::MessageBox& WindowSystem::message_box() { return *message_box_; }

bool WindowSystem::owns(HWND window) const {
    return window && GetClassLongPtrW(window, GCW_ATOM) == window_class_;
}

HWND WindowSystem::main_window() const {
    if (HWND active = GetActiveWindow(); owns(active)) return active;
    return FindWindowExW(HWND_DESKTOP, nullptr, kWindowClass, nullptr);
}

}  // namespace platform::win32
