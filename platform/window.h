#pragma once
// The window system seam: the window logic describes its window as a table
// (geometry in twips) and talks to the controls only through these interfaces.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ControlKind { PushButton, ProgressBar, Label, TextField };

struct ControlSpec {
    std::string name;          // the control's name, e.g. "Command1"
    ControlKind kind;
    std::u16string text;       // caption or initial text
    int left, top, width, height;  // twips, relative to the client area
    int tab_index;
};

struct WindowSpec {
    std::u16string caption;
    int client_width, client_height;  // twips
    std::vector<ControlSpec> controls;
};

class TextField {
public:
    virtual ~TextField() = default;
    virtual std::u16string text() const = 0;
    virtual void set_text(const std::u16string& text) = 0;
};

// Maximum and value are single-precision numbers; a new bar has minimum 0,
// maximum 100 and value 0. Setting the value repaints the bar at once, even
// while the event loop is busy.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void set_max(float max) = 0;
    virtual void set_value(float value) = 0;
};

class Window {
public:
    virtual ~Window() = default;
    virtual TextField& text_field(std::string_view name) = 0;
    virtual ProgressBar& progress_bar(std::string_view name) = 0;
    virtual void on_click(std::string_view name, std::function<void()> handler) = 0;
    virtual void show() = 0;
};

}  // namespace platform
