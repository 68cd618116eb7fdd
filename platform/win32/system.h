#pragma once
// <windows.h> without the macros that would rename the seams' own names
// (MessageBox is the one that collides).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef MessageBox
