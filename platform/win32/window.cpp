#include "platform/win32/window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/failure.h"
#include "platform/text.h"
#include "platform/win32/error_text.h"
#include "platform/win32/twips.h"
#include "platform/win32/wide.h"

namespace platform::win32 {

namespace {

constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which the dialog manager sends
constexpr int kBarSteps = 10000;      // the bar's device range; maximum and value map onto it

class EditField : public platform::TextField {
public:
    explicit EditField(HWND edit) : edit_(edit) {}
    std::u16string text() const override {
        const int length = GetWindowTextLengthW(edit_);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(edit_, text.data(), length + 1)));
        return utf16(text);
    }
    void set_text(const std::u16string& text) override {
        if (!SetWindowTextW(edit_, wide(text).c_str())) throw Failure(system_text(GetLastError()));
    }

private:
    HWND edit_;
};

// Maximum and value are kept as given; the bar shows their ratio, clamped to empty..full.
class Bar : public platform::ProgressBar {
public:
    explicit Bar(HWND bar) : bar_(bar) {}
    void set_max(float max) override {
        max_ = max;
        place();
    }
    void set_value(float value) override {
        value_ = value;
        place();
        UpdateWindow(bar_);  // paint now: the caller may keep the event loop busy
    }

private:
    int position() const {
        if (!(max_ > 0.0f) || !(value_ > 0.0f)) return 0;
        const double ratio = static_cast<double>(value_) / static_cast<double>(max_);
        return ratio >= 1.0 ? kBarSteps : static_cast<int>(std::lround(ratio * kBarSteps));
    }
    void place() { SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(position()), 0); }

    HWND bar_;
    float max_ = 100.0f;
    float value_ = 0.0f;
};

struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD extended_style;
};

ControlClass control_class(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton: return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
        case ControlKind::TextField: return {L"EDIT", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case ControlKind::Label: return {L"STATIC", SS_LEFT, 0};
        // The bar cannot show a focus: it stays out of the tab traversal.
        case ControlKind::ProgressBar: return {PROGRESS_CLASSW, 0, 0};
    }
    return {L"STATIC", 0, 0};
}

}  // namespace

struct Window::Control {
    std::string name;
    ControlKind kind;
    HWND handle;
    std::function<void()> click;
    std::unique_ptr<platform::TextField> field;
    std::unique_ptr<platform::ProgressBar> bar;
};

Window::Window(HINSTANCE instance, const WindowSpec& spec) {
    const auto dpi = screen_resolution();
    constexpr DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frame{0, 0, pixels_from_twips(spec.client_width, dpi.x), pixels_from_twips(spec.client_height, dpi.y)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    window_ = CreateWindowExW(0, kWindowClass, wide(spec.caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (!window_) throw Failure(system_text(GetLastError()));
    create_controls(instance, spec);
}

Window::~Window() {
    if (window_) DestroyWindow(window_);
}

void Window::create_controls(HINSTANCE instance, const WindowSpec& spec) {
    const auto dpi = screen_resolution();
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    // Creation order is the tab order the dialog manager follows.
    auto ordered = spec.controls;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ControlSpec& a, const ControlSpec& b) { return a.tab_index < b.tab_index; });
    int id = kFirstControlId;
    for (const auto& c : ordered) {
        const auto cls = control_class(c.kind);
        HWND handle = CreateWindowExW(cls.extended_style, cls.name, wide(c.text).c_str(),
                                      WS_CHILD | WS_VISIBLE | cls.style, pixels_from_twips(c.left, dpi.x),
                                      pixels_from_twips(c.top, dpi.y), pixels_from_twips(c.width, dpi.x),
                                      pixels_from_twips(c.height, dpi.y), window_,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance, nullptr);
        if (!handle) throw Failure(system_text(GetLastError()));
        SendMessageW(handle, WM_SETFONT, font, FALSE);
        auto control = std::make_unique<Control>(Control{c.name, c.kind, handle, {}, nullptr, nullptr});
        if (c.kind == ControlKind::TextField) {
            SendMessageW(handle, EM_SETLIMITTEXT, 0, 0);  // no length limit of its own
            control->field = std::make_unique<EditField>(handle);
        } else if (c.kind == ControlKind::ProgressBar) {
            SendMessageW(handle, PBM_SETRANGE32, 0, kBarSteps);
            SendMessageW(handle, PBM_SETPOS, 0, 0);
            control->bar = std::make_unique<Bar>(handle);
        }
        if (!focus_ && (cls.style & WS_TABSTOP)) focus_ = handle;
        controls_.push_back(std::move(control));
    }
}

Window::Control& Window::control(std::string_view name, ControlKind kind) {
    for (auto& c : controls_)
        if (c->name == name && c->kind == kind) return *c;
    throw Failure(u"No existe el control " + utf16_from_utf8(name));
}

platform::TextField& Window::text_field(std::string_view name) {
    return *control(name, ControlKind::TextField).field;
}

platform::ProgressBar& Window::progress_bar(std::string_view name) {
    return *control(name, ControlKind::ProgressBar).bar;
}

void Window::on_click(std::string_view name, std::function<void()> handler) {
    control(name, ControlKind::PushButton).click = std::move(handler);
}

void Window::show() {
    ShowWindow(window_, SW_SHOWDEFAULT);
    UpdateWindow(window_);
}

void Window::clicked(HWND button) {
    for (auto& c : controls_) {
        if (c->handle != button || !c->click) continue;
        // A failure nobody trapped must not unwind through the system's frames: it is
        // reported like any other and ends the program.
        try {
            c->click();
        } catch (const Failure& failure) {
            MessageBoxW(window_, wide(failure.description()).c_str(), L"Tarsolin", MB_OK | MB_APPLMODAL);
            DestroyWindow(window_);
        } catch (const std::exception& failure) {
            MessageBoxW(window_, wide(utf16_from_utf8(failure.what())).c_str(), L"Tarsolin", MB_OK | MB_APPLMODAL);
            DestroyWindow(window_);
        } catch (...) {
            DestroyWindow(window_);
        }
        return;
    }
}

LRESULT CALLBACK Window::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    return self->handle_message(message, wparam, lparam);
}

LRESULT Window::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            // Enter and Esc reach us as IDOK and IDCANCEL: the window has no default or cancel button.
            if (lparam && HIWORD(wparam) == BN_CLICKED) clicked(reinterpret_cast<HWND>(lparam));
            return 0;
        case DM_GETDEFID:
            return 0;  // no default push button
        case DM_SETDEFID:
            return FALSE;
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window_, focus)) focus_ = focus;
            }
            break;
        case WM_SETFOCUS:
            if (focus_ && IsWindow(focus_)) SetFocus(focus_);
            return 0;
        case WM_CTLCOLORSTATIC: {
            // The label draws black text on the window's own face colour.
            auto dc = reinterpret_cast<HDC>(wparam);
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace platform::win32
