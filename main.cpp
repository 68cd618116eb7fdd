// Entry: builds the platform services, creates Form1, shows it and runs the
// window's event loop until the window closes. Reads no arguments, environment or settings.
#include "form1/form1.h"

#ifdef _WIN32
#include "platform/engine/jet_engine.h"
#include "platform/win32/backend.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    platform::win32::Backend backend(instance);
    platform::JetEngineFactory engines;
    Form1 form(platform::Services{backend.windows(), engines, backend.file_systems()});
    form.show();
    return backend.run();
}
#else
#include <QApplication>

#include "platform/engine/jet_engine.h"
#include "platform/posix/posix_file_system.h"
#include "platform/qt/qt_window_system.h"

int main() {
    // Qt wants argc/argv; the program's own command line is deliberately not passed on.
    int argc = 1;
    char name[] = "tarsolin";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);

    platform::QtWindowSystem windows;
    platform::JetEngineFactory engines;
    platform::PosixFileSystemFactory file_systems;
    Form1 form(platform::Services{windows, engines, file_systems});
    form.show();
    return application.exec();
}
#endif
