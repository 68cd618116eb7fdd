#pragma once
// One top-level window and its controls, laid out from a table in twips.
#include "platform/win32/system.h"

#include <vector>

#include "platform/window.h"

namespace platform::win32 {

inline constexpr wchar_t kWindowClass[] = L"TarsolinForm";

class Window : public platform::Window {
public:
    Window(HINSTANCE instance, const WindowSpec& spec);
    ~Window() override;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    platform::TextField& text_field(std::string_view name) override;
    platform::ProgressBar& progress_bar(std::string_view name) override;
    void on_click(std::string_view name, std::function<void()> handler) override;
    void show() override;

    HWND handle() const { return window_; }
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

private:
    struct Control;
    Control& control(std::string_view name, ControlKind kind);
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    void clicked(HWND button);
    void create_controls(HINSTANCE instance, const WindowSpec& spec);

    HWND window_ = nullptr;
    HWND focus_ = nullptr;  // the control that had the focus when the window was last active
    std::vector<std::unique_ptr<Control>> controls_;
};

}  // namespace platform::win32
