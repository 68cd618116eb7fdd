#pragma once
// Helpers for tests that drive another process's windows through messages.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace drive {

// Starts a program; retries once when wine reports error 1359 on a fresh prefix.
PROCESS_INFORMATION start(const std::wstring& exe, const std::wstring& folder);

// Polls until found() gives a window or the time is up; returns null on time-out.
HWND wait_for(const std::function<HWND()>& found, DWORD milliseconds = 10000);
bool wait_until(const std::function<bool()>& done, DWORD milliseconds = 10000);

std::vector<HWND> top_windows_of(DWORD process);
std::vector<HWND> children_in_z_order(HWND parent);
std::wstring class_of(HWND window);
std::wstring text_of(HWND window);
// A visible top-level dialog (#32770) of the process, optionally with a given caption.
HWND dialog_of(DWORD process, const wchar_t* caption = nullptr);
// The control with the keyboard focus in the process's GUI thread.
HWND focus_of(DWORD thread);
// Client-area rectangle of a child, relative to its parent's client area.
RECT rect_in_parent(HWND child);
void click(HWND button);

}  // namespace drive
