#include "platform/qt/qt_window.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QtMath>
#include <algorithm>
#include <limits>

#include "platform/failure.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_text.h"

namespace platform {

namespace {

QWidget* make_control(const ControlSpec& spec, QWidget* parent) {
    const QString text = to_qstring(spec.text);
    switch (spec.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(false);
            button->setDefault(false);
            return button;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            bar->setFocusPolicy(Qt::NoFocus);
            return bar;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, Qt::black);
            label->setPalette(palette);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setFocusPolicy(Qt::NoFocus);
            return label;
        }
        case ControlKind::TextField: {
            auto* edit = new QLineEdit(text, parent);
            edit->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
            return edit;
        }
    }
    return nullptr;
}

}  // namespace

int pixels_from_twips(int twips, double dpi) { return qRound(twips * dpi / 1440.0); }

std::u16string QtTextField::text() const { return from_qstring(edit_->text()); }

void QtTextField::set_text(const std::u16string& text) { edit_->setText(to_qstring(text)); }

void QtProgressBar::set_max(float max) {
    if (max <= static_cast<float>(bar_->minimum())) throw Failure(u"Valor de propiedad no válido");
    bar_->setMaximum(qRound(max));
}

// Painted at once: the caller keeps the event loop busy right after this.
void QtProgressBar::set_value(float value) {
    if (value < static_cast<float>(bar_->minimum()) || value > static_cast<float>(bar_->maximum()))
        throw Failure(u"Valor de propiedad no válido");
    bar_->setValue(qRound(value));
    bar_->repaint();
}

QtWindow::QtWindow(const WindowSpec& spec) : widget_(std::make_unique<QWidget>()) {
    widget_->setWindowTitle(to_qstring(spec.caption));
    widget_->setWindowIcon(tarsolin_icon());
    const double dpi = widget_->logicalDpiX();
    widget_->resize(pixels_from_twips(spec.client_width, dpi), pixels_from_twips(spec.client_height, dpi));

    std::vector<ControlSpec> in_tab_order = spec.controls;
    std::stable_sort(in_tab_order.begin(), in_tab_order.end(),
                     [](const ControlSpec& a, const ControlSpec& b) { return a.tab_index < b.tab_index; });
    QWidget* previous = nullptr;
    for (const auto& control : in_tab_order) {
        QWidget* w = make_control(control, widget_.get());
        w->setObjectName(QString::fromStdString(control.name));
        w->setGeometry(pixels_from_twips(control.left, dpi), pixels_from_twips(control.top, dpi),
                       pixels_from_twips(control.width, dpi), pixels_from_twips(control.height, dpi));
        if (w->focusPolicy() & Qt::TabFocus) {
            if (previous) QWidget::setTabOrder(previous, w);
            if (!first_focus_) first_focus_ = w;
            previous = w;
        }
    }
}

QtWindow::~QtWindow() = default;

QWidget* QtWindow::child(std::string_view name) const {
    auto* w = widget_->findChild<QWidget*>(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                                           Qt::FindDirectChildrenOnly);
    if (!w) throw Failure(u"No existe el control " + std::u16string(name.begin(), name.end()));
    return w;
}

TextField& QtWindow::text_field(std::string_view name) {
    auto it = fields_.find(name);
    if (it == fields_.end()) {
        auto* edit = qobject_cast<QLineEdit*>(child(name));
        if (!edit) throw Failure(u"El control no es un campo de texto");
        it = fields_.emplace(std::string(name), std::make_unique<QtTextField>(edit)).first;
    }
    return *it->second;
}

ProgressBar& QtWindow::progress_bar(std::string_view name) {
    auto it = bars_.find(name);
    if (it == bars_.end()) {
        auto* bar = qobject_cast<QProgressBar*>(child(name));
        if (!bar) throw Failure(u"El control no es una barra de progreso");
        it = bars_.emplace(std::string(name), std::make_unique<QtProgressBar>(bar)).first;
    }
    return *it->second;
}

// A failure nobody trapped must not unwind through Qt's event loop: it is
// reported like any other and the window stays usable.
void QtWindow::on_click(std::string_view name, std::function<void()> handler) {
    auto* button = qobject_cast<QPushButton*>(child(name));
    if (!button) throw Failure(u"El control no es un botón");
    QObject::connect(button, &QPushButton::clicked, widget_.get(), [handler = std::move(handler)] {
        try {
            handler();
        } catch (const Failure& failure) {
            QtMessageBox().show(failure.description(), u"Tarsolin");
        } catch (const std::exception& error) {
            QtMessageBox().show(from_qstring(QString::fromUtf8(error.what())), u"Tarsolin");
        }
    });
}

void QtWindow::show() {
    if (first_focus_) first_focus_->setFocus(Qt::OtherFocusReason);
    widget_->show();
}

}  // namespace platform
