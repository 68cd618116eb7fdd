#pragma once
// A top-level Qt window built from a WindowSpec: each control is a child widget
// whose objectName is the control's name, placed in twips scaled by the screen's dpi.
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <map>
#include <memory>

#include "platform/window.h"

namespace platform {

class QtTextField : public TextField {
public:
    explicit QtTextField(QLineEdit* edit) : edit_(edit) {}
    std::u16string text() const override;
    void set_text(const std::u16string& text) override;

private:
    QPointer<QLineEdit> edit_;
};

class QtProgressBar : public ProgressBar {
public:
    explicit QtProgressBar(QProgressBar* bar) : bar_(bar) {}
    void set_max(float max) override;
    void set_value(float value) override;

private:
    QPointer<QProgressBar> bar_;
};

class QtWindow : public Window {
public:
    explicit QtWindow(const WindowSpec& spec);
    ~QtWindow() override;
    TextField& text_field(std::string_view name) override;
    ProgressBar& progress_bar(std::string_view name) override;
    void on_click(std::string_view name, std::function<void()> handler) override;
    void show() override;

    QWidget* widget() const { return widget_.get(); }

private:
    QWidget* child(std::string_view name) const;
    std::unique_ptr<QWidget> widget_;
    QWidget* first_focus_ = nullptr;
    std::map<std::string, std::unique_ptr<QtTextField>, std::less<>> fields_;
    std::map<std::string, std::unique_ptr<QtProgressBar>, std::less<>> bars_;
};

// Twips to logical pixels at the given dots per inch (1440 twips to the inch).
int pixels_from_twips(int twips, double dpi);

}  // namespace platform
