// Form1 on the real Qt window system, headless: geometry, texts, focus, the
// repair click through to its message box, and the open dialog driven both ways.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "../unit/fakes.h"
#include "../unit/form1_access.h"
#include "../unit/temp_folder.h"
#include "platform/qt/qt_window_system.h"

namespace {

// An engine whose repair runs a probe, so a test can look at the window while it works.
class ProbeEngineFactory : public platform::DatabaseEngineFactory {
public:
    std::function<void(const std::u16string&)> repair = [](const std::u16string&) {};
    std::unique_ptr<platform::DatabaseEngine> create() override {
        struct Engine : platform::DatabaseEngine {
            ProbeEngineFactory* owner;
            void repair_database(const std::u16string& name) override { owner->repair(name); }
        };
        auto engine = std::make_unique<Engine>();
        engine->owner = this;
        return engine;
    }
};

// Acts on the next modal widget as soon as it is up; it must close it.
void when_modal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

struct SeenBox {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
    Qt::WindowModality modality = Qt::NonModal;
    int bar_value = -1, bar_max = -1;
    QWidget* parent = nullptr;
    QRect geometry;
};

class QtFormTest : public ::testing::Test {
protected:
    QtFormTest() { Form1TestAccess::empty_engine_slot(); }
    ~QtFormTest() override { Form1TestAccess::empty_engine_slot(); }

    QWidget* window() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->windowTitle() == "B" && w->findChild<QLineEdit*>("Base")) return w;
        return nullptr;
    }
    template <typename T>
    T* control(const char* name) {
        return window()->findChild<T*>(name);
    }
    QLineEdit* base() { return control<QLineEdit>("Base"); }
    QProgressBar* bar() { return control<QProgressBar>("estado"); }

    // Clicks a button and answers the message box it brings up with OK.
    SeenBox click_and_close_box(const char* button) {
        SeenBox seen;
        when_modal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box) {
                seen = {box->text(), box->windowTitle(), box->icon(), box->standardButtons(),
                        box->windowModality(), bar()->value(), bar()->maximum(), box->parentWidget(),
                        box->frameGeometry()};
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            } else {
                modal->close();
            }
        });
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
        return seen;
    }

    fakes::Log log;
    platform::QtWindowSystem windows;
    ProbeEngineFactory engines;
    fakes::FileSystemFactory file_systems{log};
    Form1 form{platform::Services{windows, engines, file_systems}};
};

TEST_F(QtFormTest, WindowAndControlsSitWhereTheTableSays) {
    form.show();
    QWidget* w = window();
    ASSERT_NE(w, nullptr);
    const double dpi = w->logicalDpiX();
    auto px = [dpi](int twips) { return platform::pixels_from_twips(twips, dpi); };
    EXPECT_EQ(w->size(), QSize(px(5730), px(4065)));
    EXPECT_EQ(control<QPushButton>("Command1")->geometry(), QRect(px(840), px(2040), px(4215), px(375)));
    EXPECT_EQ(bar()->geometry(), QRect(px(1080), px(3120), px(3615), px(255)));
    EXPECT_EQ(control<QLabel>("Label1")->geometry(), QRect(px(360), px(960), px(735), px(255)));
    EXPECT_EQ(base()->geometry(), QRect(px(1200), px(840), px(3495), px(375)));
    EXPECT_EQ(control<QPushButton>("Command2")->geometry(), QRect(px(4800), px(840), px(375), px(375)));
    if (dpi == 96) {
        EXPECT_EQ(w->size(), QSize(382, 271));
        EXPECT_EQ(base()->geometry(), QRect(80, 56, 233, 25));
    }
    EXPECT_FALSE(w->windowIcon().isNull());
    EXPECT_TRUE(w->windowIcon().availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(w->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(QtFormTest, ControlsStartWithTheirTexts) {
    form.show();
    EXPECT_EQ(window()->windowTitle(), "B");
    EXPECT_EQ(control<QPushButton>("Command1")->text(), "Reparar Base Seleccionada");
    EXPECT_EQ(control<QPushButton>("Command2")->text(), "...");
    EXPECT_EQ(control<QLabel>("Label1")->text(), "Base:");
    EXPECT_EQ(control<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(base()->text(), "");
    EXPECT_EQ(bar()->minimum(), 0);
    EXPECT_EQ(bar()->maximum(), 100);
    EXPECT_EQ(bar()->value(), 0);
    for (const char* name : {"Command1", "Command2"}) {
        EXPECT_FALSE(control<QPushButton>(name)->isDefault()) << name;
        EXPECT_FALSE(control<QPushButton>(name)->autoDefault()) << name;
    }
}

TEST_F(QtFormTest, FocusStartsOnRepairAndTabsThroughFieldAndBrowse) {
    form.show();
    QWidget* w = window();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    auto* repair = control<QPushButton>("Command1");
    EXPECT_EQ(QApplication::focusWidget(), repair);
    EXPECT_EQ(control<QLabel>("Label1")->focusPolicy(), Qt::NoFocus);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), base());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), control<QPushButton>("Command2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), repair);

    // Enter in the field presses no button: there is no default button.
    bool repaired = false;
    engines.repair = [&](const std::u16string&) { repaired = true; };
    QTest::keyClick(base(), Qt::Key_Return);
    EXPECT_FALSE(repaired);
}

TEST_F(QtFormTest, RepairShowsFullBarUnderTheSuccessBoxThenEmptiesIt) {
    form.show();
    QTest::keyClicks(base(), "/datos/a");
    base()->insert(QString::fromUtf8("ño 2024.mdb"));  // QTest types ASCII only
    std::u16string repaired;
    int value_while_working = -1, max_while_working = -1;
    engines.repair = [&](const std::u16string& name) {
        repaired = name;
        value_while_working = bar()->value();
        max_while_working = bar()->maximum();
    };
    const SeenBox seen = click_and_close_box("Command1");
    EXPECT_EQ(repaired, u"/datos/año 2024.mdb");
    EXPECT_EQ(value_while_working, 1);
    EXPECT_EQ(max_while_working, 3);
    EXPECT_EQ(seen.text, "Las Bases de datos han sido reparadas ");
    EXPECT_EQ(seen.title, "Tarsolin");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    EXPECT_EQ(seen.bar_value, 3);
    EXPECT_EQ(seen.bar_max, 3);
    EXPECT_EQ(bar()->value(), 0);
    // Owned by the window and centred over it.
    EXPECT_EQ(seen.parent, window());
    EXPECT_LE((seen.geometry.center() - window()->frameGeometry().center()).manhattanLength(), 2);
}

TEST_F(QtFormTest, BarIsPaintedBeforeTheEngineRuns) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    QApplication::processEvents();
    bar()->installEventFilter(&counter);
    int paints_before_engine = -1;
    engines.repair = [&](const std::u16string&) { paints_before_engine = counter.paints; };
    click_and_close_box("Command1");
    bar()->removeEventFilter(&counter);
    EXPECT_GE(paints_before_engine, 1) << "the bar must show one third without waiting for the event loop";
}

TEST_F(QtFormTest, FailureShowsItsDescriptionAndLeavesBarAtOneThird) {
    form.show();
    engines.repair = [](const std::u16string&) {
        throw platform::Failure(u"No se encontró el archivo «/no/existe.mdb».");
    };
    const SeenBox seen = click_and_close_box("Command1");
    EXPECT_EQ(seen.text, "No se encontró el archivo «/no/existe.mdb».");
    EXPECT_EQ(seen.title, "Tarsolin");
    EXPECT_EQ(bar()->value(), 1);
    EXPECT_EQ(bar()->maximum(), 3);

    engines.repair = [](const std::u16string&) {};
    EXPECT_EQ(click_and_close_box("Command1").text, "Las Bases de datos han sido reparadas ");
    EXPECT_EQ(bar()->value(), 0);
}

TEST_F(QtFormTest, OpenDialogAcceptFillsTheFieldAndCancelKeepsTypedText) {
    TempFolder temp;
    const auto file = temp.path() / "año con espacios.mdb";
    write_file(file, "x");
    form.show();
    base()->setText("escrito a mano");

    bool native = true;
    when_modal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
        // Type the path as a user would: selectFile() leaves the name field alone once it has
        // focus and then waits for the folder listing, which races with this driver.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(file.string()));
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
    EXPECT_FALSE(native);
    EXPECT_EQ(base()->text(), QString::fromStdString(file.string()));

    base()->setText("otro escrito");
    when_modal([](QWidget* modal) { QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection); });
    QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
    EXPECT_EQ(base()->text(), "otro escrito");
}

}  // namespace
