#pragma once
// Twips (1/1440 inch) to device pixels at the screen's logical resolution.
#include "platform/win32/system.h"

namespace platform::win32 {

inline int pixels_from_twips(int twips, int dots_per_inch) { return MulDiv(twips, dots_per_inch, 1440); }

struct ScreenResolution {
    int x, y;  // dots per inch
};

inline ScreenResolution screen_resolution() {
    HDC screen = GetDC(nullptr);
    ScreenResolution dpi{GetDeviceCaps(screen, LOGPIXELSX), GetDeviceCaps(screen, LOGPIXELSY)};
    ReleaseDC(nullptr, screen);
    return dpi;
}

}  // namespace platform::win32
