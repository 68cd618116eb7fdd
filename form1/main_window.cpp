// The window: its layout table, start-up wiring and the browse flow.
#include "form1/form1.h"

namespace {

using platform::ControlKind;

constexpr int kClientWidth = 5730;   // twips
constexpr int kClientHeight = 4065;  // twips

}  // namespace

platform::WindowSpec Form1::window_spec() {
    return platform::WindowSpec{
        u"B",
        kClientWidth,
        kClientHeight,
        {
            // name,     kind,                     text,                          left, top,  width, height, tab
            {"Command1", ControlKind::PushButton,  u"Reparar Base Seleccionada",  840,  2040, 4215,  375,    0},
            {"estado",   ControlKind::ProgressBar, u"",                           1080, 3120, 3615,  255,    1},
            {"Label1",   ControlKind::Label,       u"Base:",                      360,  960,  735,   255,    2},
            {"Base",     ControlKind::TextField,   u"",                           1200, 840,  3495,  375,    3},
            {"Command2", ControlKind::PushButton,  u"...",                        4800, 840,  375,   375,    4},
        },
    };
}

Form1::Form1(platform::Services services)
    : services_(services),
      window_(services_.windows.create_window(window_spec())),
      Base(window_->text_field("Base")),
      estado(window_->progress_bar("estado")),
      CommonDialog1(services_.windows.create_open_file_dialog()) {
    window_->on_click(Command1.name, [this] { Command1_Click(); });
    window_->on_click(Command2.name, [this] { Command2_Click(); });
}

void Form1::show() { window_->show(); }

// Only an accepted file replaces the field: a cancel keeps whatever the user
// typed, even when the dialog still remembers an earlier choice.
void Form1::Command2_Click() {
    if (!CommonDialog1->show_open()) return;
    const std::u16string name = CommonDialog1->file_name();
    if (!name.empty()) Base.set_text(name);
}

void Form1::show_message(std::u16string_view text) {
    services_.windows.message_box().show(std::u16string(text), std::u16string(kApplicationTitle));
}
