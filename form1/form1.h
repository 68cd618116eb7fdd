#pragma once
// Form1: the program's only window. It owns its controls and its file-open
// dialog; the database engine it uses lives in a slot shared by the process.
#include <memory>
#include <string>
#include <string_view>

#include "platform/services.h"

struct Form1TestAccess;  // lets the unit tests reach private members

// A control the logic never reads or writes: known only by its name in the layout.
struct NamedControl {
    std::string_view name;
};

class Form1 {
public:
    explicit Form1(platform::Services services);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Shows the window; the caller then runs the event loop.
    void show();

    void Reparar_Bases();
    void BorraBasesComp();

    // Text and caption of every message box the program shows.
    static constexpr std::u16string_view kApplicationTitle = u"Tarsolin";
    static constexpr std::u16string_view kRepairedMessage = u"Las Bases de datos han sido reparadas ";
    static constexpr std::u16string_view kFileSystemClass = u"Scripting.FileSystemObject";

    // The window as a table: caption, client size and controls in twips.
    static platform::WindowSpec window_spec();

private:
    friend struct Form1TestAccess;

    void Command1_Click();
    void Command2_Click();
    void CopiaPelso2();
    void CopiaPelso();

    // Copies one file of the set; reports its own failures.
    void copy_to_drive_a(std::u16string_view source, std::u16string_view destination);
    // Shows the failure being handled as one error report.
    void report_current_failure();
    void show_message(std::u16string_view text);

    platform::Services services_;
    std::unique_ptr<platform::Window> window_;

    // Controls under their own names (declared after window_, which owns them).
    platform::TextField& Base;
    platform::ProgressBar& estado;
    const NamedControl Command1{"Command1"};
    const NamedControl Command2{"Command2"};
    const NamedControl Label1{"Label1"};
    std::unique_ptr<platform::OpenFileDialog> CommonDialog1;

    // The engine object: created by the first repair that reaches it, then
    // kept for the life of the process.
    static std::unique_ptr<platform::DatabaseEngine> engine_slot_;
};
