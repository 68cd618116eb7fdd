#pragma once
// Descriptions of failed calls, as the system or a COM service words them.
#include "platform/win32/system.h"
#include <oleauto.h>

#include <string>

namespace platform::win32 {

// The system's text for a result code; for scripting codes the system has no text
// for (wine), a Spanish text of our own; otherwise a generic text naming the code.
std::u16string describe_result(HRESULT result);

// What a failed IDispatch::Invoke reports: the service's own description when it
// gives one, else the text for its code.
std::u16string describe_exception(EXCEPINFO& info);

// The system's text for a Win32 error code (GetLastError), or empty.
std::u16string system_text(DWORD code);

}  // namespace platform::win32
