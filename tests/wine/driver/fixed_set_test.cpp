// Form1's fixed database set and the file-system object, through wine's real
// Scripting Runtime. run.sh maps drive D: (the current drive, holding \vendrilo)
// and drive A: to temporary folders and runs one phase per state of drive A:
//   fixed_set_test "[sin A]" | "[con A]" | "[A protegida]"
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "form1/form1.h"
#include "platform/failure.h"
#include "platform/win32/com.h"
#include "platform/win32/file_system.h"
#include "platform/win32/window_system.h"
#include "win.h"

// Reaches Form1's private copy operations, which no control calls.
struct Form1TestAccess {
    static void CopiaPelso(Form1& form) { form.CopiaPelso(); }
    static void CopiaPelso2(Form1& form) { form.CopiaPelso2(); }
};

namespace {

struct Report {
    std::u16string text, caption;
};

// The real window system, except that message boxes are recorded instead of shown.
class RecordingWindows : public platform::WindowSystem {
public:
    std::unique_ptr<platform::Window> create_window(const platform::WindowSpec& spec) override {
        return real_.create_window(spec);
    }
    std::unique_ptr<platform::OpenFileDialog> create_open_file_dialog() override {
        return real_.create_open_file_dialog();
    }
    platform::MessageBox& message_box() override { return box_; }
    std::vector<Report>& reports() { return box_.reports; }

private:
    struct Box : platform::MessageBox {
        std::vector<Report> reports;
        void show(const std::u16string& text, const std::u16string& caption) override {
            reports.push_back({text, caption});
        }
    };
    platform::win32::WindowSystem real_{GetModuleHandleW(nullptr)};
    Box box_;
};

class NoEngine : public platform::DatabaseEngineFactory {
public:
    std::unique_ptr<platform::DatabaseEngine> create() override { throw platform::Failure(u"sin motor"); }
};

platform::win32::AutomationFileSystemFactory file_systems;

struct Fixture {
    RecordingWindows windows;
    NoEngine engines;
    Form1 form{platform::Services{windows, engines, file_systems}};
};

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void write(const std::wstring& path, const char* content) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(file);
}

std::string read(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<absent>";
    char buffer[256];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

void remove(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

const wchar_t* const kComp[] = {L"D:\\vendrilo\\drok.comp", L"D:\\vendrilo\\pelso.comp", L"D:\\vendrilo\\drok2.comp",
                                L"D:\\vendrilo\\pelso2.comp"};

void reset_set() {
    CreateDirectoryW(L"D:\\vendrilo", nullptr);
    for (auto* p : kComp) remove(p);
    write(L"D:\\vendrilo\\pelso.qev", "pelso");
    write(L"D:\\vendrilo\\pelso2.qev", "pelso2");
    // The same names on another drive must never be touched.
    CreateDirectoryW(L"C:\\vendrilo", nullptr);
    write(L"C:\\vendrilo\\drok.comp", "ajeno");
    write(L"C:\\vendrilo\\pelso.qev", "ajeno");
}

std::u16string failure_of(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const platform::Failure& failure) {
        return failure.description();
    }
    return u"<no failure>";
}

// --- the window, seen from inside the process (wine answers WM_GETFONT only there) --------

TEST_CASE("[sin A] every control of the window uses the default GUI font") {
    Fixture f;
    HWND window = FindWindowExW(nullptr, nullptr, L"TarsolinForm", L"B");
    REQUIRE(window != nullptr);
    LOGFONTW expected{}, actual{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof expected, &expected);
    int with_text = 0;
    for (HWND c : drive::children_in_z_order(window)) {
        if (drive::class_of(c) == L"msctls_progress32") continue;  // shows no text
        ++with_text;
        auto font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
        REQUIRE(font != nullptr);
        GetObjectW(font, sizeof actual, &actual);
        CHECK_EQ(std::wstring(actual.lfFaceName), std::wstring(expected.lfFaceName));
        CHECK_EQ(actual.lfHeight, expected.lfHeight);
    }
    CHECK_EQ(with_text, 4);
}

// --- the file-system object on its own -------------------------------------------------

TEST_CASE("[sin A] fileexists tells files from missing paths and folders") {
    reset_set();
    auto files = file_systems.create(u"Scripting.FileSystemObject");
    CHECK(files->file_exists(u"\\vendrilo\\pelso.qev"));
    CHECK(files->file_exists(u"D:\\vendrilo\\pelso.qev"));
    CHECK(!files->file_exists(u"\\vendrilo\\nada.qev"));
    CHECK(!files->file_exists(u"\\vendrilo"));
    CHECK(!files->file_exists(u"a:\\pelso.qev"));  // no drive A is not a failure
}

TEST_CASE("[sin A] deletefile removes a file, refuses a read-only one and a missing one") {
    reset_set();
    auto files = file_systems.create(u"Scripting.FileSystemObject");
    write(L"D:\\vendrilo\\borrar.tmp", "x");
    files->delete_file(u"\\vendrilo\\borrar.tmp");
    CHECK(!exists(L"D:\\vendrilo\\borrar.tmp"));

    write(L"D:\\vendrilo\\fija.tmp", "x");
    SetFileAttributesW(L"D:\\vendrilo\\fija.tmp", FILE_ATTRIBUTE_READONLY);
    CHECK_EQ(failure_of([&] { files->delete_file(u"\\vendrilo\\fija.tmp"); }), std::u16string(u"Permiso denegado"));
    CHECK(exists(L"D:\\vendrilo\\fija.tmp"));
    remove(L"D:\\vendrilo\\fija.tmp");

    CHECK_EQ(failure_of([&] { files->delete_file(u"\\vendrilo\\nada.tmp"); }),
             std::u16string(u"No se ha encontrado el archivo"));
}

TEST_CASE("[sin A] copyfile copies and, by default, overwrites") {
    reset_set();
    auto files = file_systems.create(u"Scripting.FileSystemObject");
    files->copy_file(u"\\vendrilo\\pelso.qev", u"\\vendrilo\\copia.tmp");
    CHECK_EQ(read(L"D:\\vendrilo\\copia.tmp"), std::string("pelso"));
    files->copy_file(u"\\vendrilo\\pelso2.qev", u"\\vendrilo\\copia.tmp");
    CHECK_EQ(read(L"D:\\vendrilo\\copia.tmp"), std::string("pelso2"));
    remove(L"D:\\vendrilo\\copia.tmp");
    CHECK_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\nada.qev", u"\\vendrilo\\copia.tmp"); }),
             std::u16string(u"No se ha encontrado el archivo"));
}

TEST_CASE("[sin A] an unknown class name fails with a description") {
    const auto description = failure_of([] { file_systems.create(u"Scripting.NoExiste"); });
    std::printf("    description: %s\n", check::printable(description).c_str());
    CHECK(!description.empty());
    CHECK(description != u"<no failure>");
    CHECK(description.rfind(u"Error inesperado", 0) != 0);  // a text for the code, not just the code
}

// --- BorraBasesComp ------------------------------------------------------------------------

TEST_CASE("[sin A] BorraBasesComp with no .comp file does nothing") {
    reset_set();
    Fixture f;
    f.form.BorraBasesComp();
    CHECK(f.windows.reports().empty());
    CHECK(exists(L"D:\\vendrilo\\pelso.qev"));
    CHECK(exists(L"C:\\vendrilo\\drok.comp"));
}

TEST_CASE("[sin A] BorraBasesComp deletes exactly the .comp files that exist, on the current drive") {
    reset_set();
    write(kComp[1], "x");
    write(kComp[3], "x");
    write(L"D:\\vendrilo\\otro.comp", "x");
    Fixture f;
    f.form.BorraBasesComp();
    for (auto* p : kComp) CHECK(!exists(p));
    CHECK(exists(L"D:\\vendrilo\\otro.comp"));
    CHECK(exists(L"C:\\vendrilo\\drok.comp"));
    CHECK(f.windows.reports().empty());
    remove(L"D:\\vendrilo\\otro.comp");
}

TEST_CASE("[sin A] BorraBasesComp passes the first failure on and stops there") {
    reset_set();
    for (auto* p : kComp) write(p, "x");
    SetFileAttributesW(kComp[0], FILE_ATTRIBUTE_READONLY);
    Fixture f;
    CHECK_EQ(failure_of([&] { f.form.BorraBasesComp(); }), std::u16string(u"Permiso denegado"));
    for (auto* p : kComp) CHECK(exists(p));  // the other three were not examined
    CHECK(f.windows.reports().empty());      // the caller reports, not BorraBasesComp
    reset_set();
}

// --- CopiaPelso and CopiaPelso2 onto drive A ------------------------------------------------

TEST_CASE("[sin A] a copy with no drive A shows one report and writes nothing") {
    reset_set();
    Fixture f;
    Form1TestAccess::CopiaPelso(f.form);
    REQUIRE(f.windows.reports().size() == 1);
    const auto& report = f.windows.reports()[0];
    std::printf("    report: %s\n", check::printable(report.text).c_str());
    CHECK_EQ(report.caption, std::u16string(u"Tarsolin"));
    CHECK(!report.text.empty());
}

TEST_CASE("[con A] CopiaPelso and CopiaPelso2 copy the set onto drive A silently") {
    reset_set();
    remove(L"A:\\pelso.qev");
    remove(L"A:\\pelso2.qev");
    Fixture f;
    Form1TestAccess::CopiaPelso(f.form);
    Form1TestAccess::CopiaPelso2(f.form);
    CHECK(f.windows.reports().empty());
    CHECK_EQ(read(L"A:\\pelso.qev"), std::string("pelso"));
    CHECK_EQ(read(L"A:\\pelso2.qev"), std::string("pelso2"));
    // A second copy overwrites the diskette's older file.
    write(L"D:\\vendrilo\\pelso.qev", "pelso nuevo");
    Form1TestAccess::CopiaPelso(f.form);
    CHECK(f.windows.reports().empty());
    CHECK_EQ(read(L"A:\\pelso.qev"), std::string("pelso nuevo"));
}

TEST_CASE("[con A] a missing source is reported with the service's description") {
    reset_set();
    remove(L"D:\\vendrilo\\pelso2.qev");
    remove(L"A:\\pelso2.qev");
    Fixture f;
    Form1TestAccess::CopiaPelso2(f.form);
    REQUIRE(f.windows.reports().size() == 1);
    CHECK_EQ(f.windows.reports()[0].text, std::u16string(u"No se ha encontrado el archivo"));
    CHECK_EQ(f.windows.reports()[0].caption, std::u16string(u"Tarsolin"));
    CHECK(!exists(L"A:\\pelso2.qev"));
}

TEST_CASE("[A protegida] a copy onto a write-protected diskette is reported and changes nothing") {
    reset_set();
    const std::string before = read(L"A:\\pelso.qev");
    Fixture f;
    Form1TestAccess::CopiaPelso(f.form);
    REQUIRE(f.windows.reports().size() == 1);
    std::printf("    report: %s\n", check::printable(f.windows.reports()[0].text).c_str());
    CHECK_EQ(f.windows.reports()[0].text, std::u16string(u"Permiso denegado"));
    CHECK_EQ(read(L"A:\\pelso.qev"), before);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    platform::win32::ComApartment com;
    // \vendrilo paths resolve against the current drive.
    if (!SetCurrentDirectoryW(L"D:\\")) {
        std::printf("drive D: is not mapped; run this through tests/wine/run.sh\n");
        return 2;
    }
    std::string filter;
    if (argc > 1)
        for (const wchar_t* p = argv[1]; *p; ++p) filter += static_cast<char>(*p);
    return check::run_all(filter);
}
