#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes.h"
#include "form1_access.h"

// A Form1 over fakes, with an empty engine slot at the start and end of each test.
class Form1Test : public ::testing::Test {
protected:
    Form1Test() { Form1TestAccess::empty_engine_slot(); }
    ~Form1Test() override { Form1TestAccess::empty_engine_slot(); }

    fakes::Window& window() { return *windows.window; }
    fakes::TextField& base() { return windows.window->base; }
    fakes::ProgressBar& bar() { return windows.window->bar; }
    fakes::OpenFileDialog& dialog() { return *windows.dialog; }
    const std::vector<fakes::MessageBox::Shown>& messages() { return windows.box.shown; }

    fakes::Log log;
    fakes::WindowSystem windows{log};
    fakes::DatabaseEngineFactory engines{log};
    fakes::FileSystemFactory file_systems{log};
    Form1 form{platform::Services{windows, engines, file_systems}};
};
