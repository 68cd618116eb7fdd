// The window's layout table, its start-up wiring and the browse flow.
#include "form1_fixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const platform::ControlSpec& control(const platform::WindowSpec& spec, const std::string& name) {
    for (const auto& c : spec.controls)
        if (c.name == name) return c;
    throw std::runtime_error("no control " + name);
}

TEST(Form1Layout, WindowCaptionAndClientSize) {
    const auto spec = Form1::window_spec();
    EXPECT_EQ(spec.caption, u"B");
    EXPECT_EQ(spec.client_width, 5730);
    EXPECT_EQ(spec.client_height, 4065);
}

TEST(Form1Layout, ControlsInTabOrderWithTheirTextsAndGeometry) {
    const auto spec = Form1::window_spec();
    using K = platform::ControlKind;
    struct Expected {
        std::string name;
        K kind;
        std::u16string text;
        int left, top, width, height;
    };
    const std::vector<Expected> expected = {
        {"Command1", K::PushButton, u"Reparar Base Seleccionada", 840, 2040, 4215, 375},
        {"estado", K::ProgressBar, u"", 1080, 3120, 3615, 255},
        {"Label1", K::Label, u"Base:", 360, 960, 735, 255},
        {"Base", K::TextField, u"", 1200, 840, 3495, 375},
        {"Command2", K::PushButton, u"...", 4800, 840, 375, 375},
    };
    ASSERT_EQ(spec.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& c = spec.controls[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.name, expected[i].name);
        EXPECT_EQ(c.kind, expected[i].kind);
        EXPECT_EQ(c.text, expected[i].text);
        EXPECT_EQ(c.tab_index, static_cast<int>(i));
        EXPECT_EQ(c.left, expected[i].left);
        EXPECT_EQ(c.top, expected[i].top);
        EXPECT_EQ(c.width, expected[i].width);
        EXPECT_EQ(c.height, expected[i].height);
    }
}

TEST(Form1Layout, BrowseButtonIsASquareBesideTheField) {
    const auto spec = Form1::window_spec();
    const auto& base = control(spec, "Base");
    const auto& browse = control(spec, "Command2");
    EXPECT_EQ(browse.left - (base.left + base.width), 105);
    EXPECT_EQ(browse.top, base.top);
    EXPECT_EQ(browse.height, base.height);
    EXPECT_EQ(browse.width, browse.height);
    for (const auto& c : spec.controls) {
        EXPECT_LE(c.left + c.width, spec.client_width) << c.name;
        EXPECT_LE(c.top + c.height, spec.client_height) << c.name;
    }
}

TEST_F(Form1Test, StartUpTouchesNothingButTheWiring) {
    EXPECT_THAT(log, IsEmpty());
    EXPECT_EQ(window().spec.caption, u"B");
    EXPECT_THAT(window().names_asked, ElementsAre("Base", "estado"));
    EXPECT_EQ(window().handlers.size(), 2u);
    EXPECT_TRUE(window().handlers.count("Command1"));
    EXPECT_TRUE(window().handlers.count("Command2"));
    EXPECT_EQ(engines.attempts, 0);
    form.show();
    EXPECT_THAT(log, ElementsAre("window.show"));
}

TEST_F(Form1Test, AcceptedFileReplacesTypedText) {
    base().text_ = u"lo que escribí";
    dialog().accept(u"/datos/Clientes 2024/almacén.mdb");
    window().click("Command2");
    EXPECT_EQ(base().text_, u"/datos/Clientes 2024/almacén.mdb");
}

TEST_F(Form1Test, FirstCancelKeepsTypedText) {
    base().text_ = u"C:\\a mano.mdb";
    dialog().cancel();
    window().click("Command2");
    EXPECT_EQ(base().text_, u"C:\\a mano.mdb");
    EXPECT_THAT(log, ElementsAre("dialog.show_open"));
}

TEST_F(Form1Test, CancelAfterAnEarlierChoiceKeepsTypedText) {
    dialog().accept(u"/datos/primera.mdb");
    window().click("Command2");
    base().text_ = u"/datos/escrita a mano.mdb";
    dialog().cancel();
    window().click("Command2");
    EXPECT_EQ(base().text_, u"/datos/escrita a mano.mdb");
    EXPECT_EQ(dialog().file_name(), u"/datos/primera.mdb");
}

TEST_F(Form1Test, AcceptingTheSameFileAgainOverwritesTypedText) {
    dialog().accept(u"/datos/primera.mdb");
    window().click("Command2");
    base().text_ = u"otra cosa";
    dialog().accept(u"/datos/primera.mdb");
    window().click("Command2");
    EXPECT_EQ(base().text_, u"/datos/primera.mdb");
}

TEST_F(Form1Test, AcceptedEmptyNameLeavesFieldAlone) {
    base().text_ = u"x.mdb";
    dialog().accept(u"");
    Form1TestAccess::Command2_Click(form);
    EXPECT_EQ(base().text_, u"x.mdb");
}

TEST_F(Form1Test, DialogFailureReachesTheCaller) {
    dialog().fail.description = u"No se pudo abrir el cuadro de diálogo.";
    EXPECT_THROW(window().click("Command2"), platform::Failure);
    EXPECT_THAT(messages(), IsEmpty());
}

}  // namespace
