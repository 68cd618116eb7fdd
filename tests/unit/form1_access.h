#pragma once
// Reaches Form1's private members for the unit tests.
#include "form1/form1.h"

struct Form1TestAccess {
    static void Command1_Click(Form1& f) { f.Command1_Click(); }
    static void Command2_Click(Form1& f) { f.Command2_Click(); }
    static void CopiaPelso2(Form1& f) { f.CopiaPelso2(); }
    static void CopiaPelso(Form1& f) { f.CopiaPelso(); }
    static bool engine_slot_filled() { return Form1::engine_slot_ != nullptr; }
    static void empty_engine_slot() { Form1::engine_slot_.reset(); }
};
